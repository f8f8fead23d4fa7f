// What the main window does with its list as a whole: export the rows shown (CSV or JSON, the
// formats of the command-line tool's search) and copy the selected rows to the clipboard.
#pragma once

#include <QString>
#include <vector>

class QWidget;

namespace valdrune {

class CAdapterSessions;
class CDeviceList;

class CListTools {
  public:
    CListTools(const CAdapterSessions& sessions, const CDeviceList& list, QWidget& owner);

    // The Export button: asks for a file, then writes it; a failure is shown, never half a file.
    void Export();
    // JSON for a ".json" path, CSV otherwise; with every adapter searched each device names
    // the adapter it answered on, as the tool's search on several adapters does. False when
    // the file could not be written.
    bool ExportTo(const QString& path) const;
    // The selected rows' columns, tab-separated, one line per row (what a spreadsheet pastes).
    QString SelectionText() const;
    void CopySelection() const;

  private:
    const CAdapterSessions& sessions_;
    const CDeviceList& list_;
    QWidget& owner_;
};

}  // namespace valdrune
