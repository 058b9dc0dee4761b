// One received text in the transfer list: its first lines, where it came from and when, with "复制"
// (the whole text to the clipboard) and, when the text is nothing but a web address, "打开链接". A card
// shows up to three lines; a row of the list by source shows one. Everything is plain text: a text is
// shown as the characters it holds, never as markup.
//
// GUI thread only (a widget).
#pragma once

#include "server/ServerCallbacks.h"

#include <QUrl>
#include <QWidget>

#include <optional>

class QPushButton;

namespace ferrylantern {

class ReceivedTextRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReceivedTextRow)

public:
    enum class Style
    {
        card,
        listRow,
    };
    static constexpr int cardLines = 3;

    // `record` is a received text (its `text` is set).
    ReceivedTextRow(const ReceivedFileRecord& record, Style style, QWidget* parent = nullptr);

    const ReceivedFileRecord& record() const { return record_; }
    QString text() const;
    // The address "打开链接" opens; none when the button is not shown.
    const std::optional<QUrl>& link() const { return link_; }

    // Puts the whole text on the clipboard, as "复制" does.
    void copyToClipboard();

signals:
    void copied();
    void openLinkRequested(const QUrl& url);

private:
    ReceivedFileRecord record_;
    std::optional<QUrl> link_;
    QPushButton* copy_;
};

} // namespace ferrylantern
