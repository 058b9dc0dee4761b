// The about window's content: the logo with a soft shadow, the application's name and "版本 " with
// the version text, in a centred column 340 points wide.
#pragma once

#include <QWidget>

namespace ferrylantern {

class AppAboutView : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppAboutView)

public:
    explicit AppAboutView(int logoSize = 160, QWidget* parent = nullptr);
};

} // namespace ferrylantern
