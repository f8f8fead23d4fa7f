// An IPv4 address entry of four fields. It reports the address as one packed value (first
// octet most significant; an empty field reads as 0), tells its owner when a field's text
// changes and when the user leaves an edited field (with the field's value, -1 when empty,
// which the owner may replace), and gives access to each field's text and focus.
#pragma once

#include <QFrame>

#include <array>
#include <cstdint>
#include <functional>

class QLineEdit;

namespace valdrune {

class CIpAddressCtrl : public QFrame {
public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    std::uint32_t Address() const;
    // Shows all four octets; 0 shows as 0.0.0.0.
    void SetAddress(std::uint32_t address);
    void ClearAddress();
    bool IsBlank() const;

    static constexpr int kFields = 4;
    QString FieldText(int field) const;
    void SetFieldText(int field, const QString& text);
    // Keyboard focus into one field, its text selected.
    void SetFieldFocus(int field);
    QLineEdit* Field(int field) const;

    // Any text change of any field (typed, pasted or set by code).
    std::function<void()> onChange;
    // The user changed a field and left it (or moved on after its third digit). value is the
    // field's number, -1 when empty; when the handler changes it, the field shows the new value.
    std::function<void(int field, int& value)> onFieldChanged;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int IndexOf(const QObject* field) const;
    void LeaveField(int field);
    void UpdateColours();

    std::array<QLineEdit*, kFields> fields_{};
    std::array<bool, kFields> edited_{};
};

}  // namespace valdrune
