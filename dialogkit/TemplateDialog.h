// Base of the dialogs built from numbered templates: controls are placed in dialog units
// derived from the dialog's font and addressed by numeric id, as the controller and the tests
// address them.
#pragma once

#include <QDialog>
#include <QRadioButton>
#include <QRect>

#include <functional>
#include <map>

class QAbstractButton;
class QLabel;
class QPushButton;

namespace valdrune {

// An auto radio button whose group is managed by the dialog: a click always leaves it checked
// and unchecks the other members of its group, while code may check or uncheck any member
// freely (a group may then have none or, transiently, several checked).
class CRadioButton : public QRadioButton {
public:
    CRadioButton(int group, QWidget* parent);
    int Group() const { return group_; }

protected:
    void nextCheckState() override;

private:
    int group_;
};

class CTemplateDialog : public QDialog {
public:
    explicit CTemplateDialog(QWidget* parent = nullptr);

    // The control with this id, or null.
    QWidget* Control(int id) const;
    template <class T>
    T* ControlAs(int id) const {
        return dynamic_cast<T*>(Control(id));
    }
    bool IsChecked(int id) const;
    bool IsControlEnabled(int id) const;
    // Placement in pixels, in dialog client coordinates.
    QRect Placement(int id) const;

    // Dialog units of this dialog's font, to pixels.
    int DluToPixelsX(int dlu) const;
    int DluToPixelsY(int dlu) const;

    // Queues fn to run on this dialog after the current event (a message posted to itself);
    // dropped when the dialog is gone by then.
    void PostToSelf(std::function<void()> fn);

    // Dialog results as the callers expect them: 1 for OK (Save), 2 for Cancel (Back, Escape,
    // the caption's close button).
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;
    void accept() override { done(kResultOk); }
    void reject() override { done(kResultCancel); }

protected:
    QRect DluRect(int x, int y, int w, int h) const;
    // Places a new control by its template rectangle and registers it under id.
    template <class T>
    T* Place(int id, T* widget, int x, int y, int w, int h) {
        Register(id, widget, DluRect(x, y, w, h));
        return widget;
    }
    void Register(int id, QWidget* widget, const QRect& rect);
    QLabel* AddLabel(int id, int x, int y, int w, int h, bool verticallyCentred = true);
    CRadioButton* AddRadio(int id, int group, int x, int y, int w, int h);
    QPushButton* AddButton(int id, int x, int y, int w, int h, bool isDefault = false);
    // The client area of the template in dialog units.
    void SetTemplateSize(int w, int h);

    void SetControlText(int id, const QString& text);
    void SetControlTextId(int id, int textId);
    void EnableControl(int id, bool enable);
    void CheckControl(int id, bool check);
    // A click on a managed radio arrives here with its id.
    virtual void OnRadioClicked(int /*id*/) {}

    void SetPlacement(int id, const QRect& rect);
    void MoveControlBy(int id, int dx, int dy);
    void SetControlWidth(int id, int width);
    // Grows the dialog's client area to the right (negative shrinks).
    void WidenBy(int dx);
    void GrowDownBy(int dy);

private:
    std::map<int, QWidget*> controls_;
    int baseX_ = 6;
    int baseY_ = 13;
};

}  // namespace valdrune
