// The 4-digit PIN field of the sidebar: a masked (or, by the eye button, visible) entry on the
// "transferPINCode" preference, kept filtered to at most four number characters after every change.
// While disabled it is drawn at 55 % opacity and keeps its text.
//
// GUI thread only (a widget).
#pragma once

#include <QString>
#include <QWidget>

class QGraphicsOpacityEffect;
class QLineEdit;

namespace ferrylantern {

class SymbolButton;
class UserPreferences;

// The text a PIN field keeps of `text`: its first four decimal digits, as ASCII digits. The result
// always passes the server's rule (normalizedPIN) unchanged.
QString filteredPIN(const QString& text);

// Filters what `entry` holds after a change to `text`, writing the filtered text back (cursor kept)
// when it differs, and returns it.
QString filterPINEntry(QLineEdit* entry, const QString& text);

class PINCodeEntryField final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PINCodeEntryField)

public:
    static constexpr int entryWidth = 52;
    static constexpr qreal disabledOpacity = 0.55;

    explicit PINCodeEntryField(UserPreferences& preferences, QWidget* parent = nullptr);

    QString pinCode() const;
    bool isPINVisible() const { return isPINVisible_; }
    void setPINVisible(bool visible);

    QLineEdit* lineEdit() const { return entry_; }
    SymbolButton* visibilityButton() const { return eye_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void textChanged(const QString& text);
    void showStoredPIN(const QString& code);

    UserPreferences& preferences_;
    QLineEdit* entry_;
    SymbolButton* eye_;
    QGraphicsOpacityEffect* dimming_;
    bool isPINVisible_ = false;
};

} // namespace ferrylantern
