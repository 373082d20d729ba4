#pragma once
// Ends the program when the last of its windows has closed. The main window
// and the about window live independently: the about window has no owner and
// stays open after the main window has gone, so neither of them alone decides
// when the program ends, whatever window flags each carries.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

namespace penumbrix {

class LastWindowWatch : public QObject {
    Q_OBJECT
public:
    explicit LastWindowWatch(std::function<void()> allClosed, QObject* parent = nullptr);

    // True while a watched window is open (shown; a minimised window counts).
    bool anyOpen() const;

public slots:
    // Watches a window until it is destroyed; watching it again changes nothing.
    void watch(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void checkLater();
    void check();

    std::function<void()> allClosed_;
    std::vector<QPointer<QWidget>> windows_;
    bool checkPending_ = false;
    bool ended_ = false;
};

} // namespace penumbrix
