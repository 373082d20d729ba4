#include "ui/window_watch.h"

#include <QEvent>

#include <algorithm>

namespace penumbrix {

LastWindowWatch::LastWindowWatch(std::function<void()> allClosed, QObject* parent)
    : QObject(parent), allClosed_(std::move(allClosed))
{
}

void LastWindowWatch::watch(QWidget* window)
{
    if (!window)
        return;
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const QPointer<QWidget>& w) { return !w; }),
                   windows_.end());
    if (std::any_of(windows_.begin(), windows_.end(), [window](const QPointer<QWidget>& w) { return w == window; }))
        return;
    windows_.emplace_back(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, &LastWindowWatch::checkLater);
}

bool LastWindowWatch::anyOpen() const
{
    return std::any_of(windows_.begin(), windows_.end(),
                       [](const QPointer<QWidget>& w) { return w && w->isVisible(); });
}

bool LastWindowWatch::eventFilter(QObject* watched, QEvent* event)
{
    // A minimised window gets a spontaneous hide and stays visible; the check
    // tells the two apart.
    if (event->type() == QEvent::Hide)
        checkLater();
    return QObject::eventFilter(watched, event);
}

void LastWindowWatch::checkLater()
{
    // Once the closing has finished: a window that is closed is hidden first
    // and may be destroyed right after.
    if (checkPending_)
        return;
    checkPending_ = true;
    QMetaObject::invokeMethod(this, &LastWindowWatch::check, Qt::QueuedConnection);
}

void LastWindowWatch::check()
{
    checkPending_ = false;
    if (ended_ || anyOpen())
        return;
    ended_ = true;
    if (allClosed_)
        allClosed_();
}

} // namespace penumbrix
