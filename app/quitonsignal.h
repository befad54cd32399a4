#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace velo
{

// Turns SIGINT and SIGTERM into a call on the event loop, so that Ctrl-C in the terminal
// (or a kill) ends the program the way its own quit does, instead of killing it between
// two lines of its work. The handler only writes the signal's number to a pipe, the one
// thing safe to do there; a notifier on the pipe's other end calls `onSignal` from the
// event loop. Handlers are installed by the constructor and the defaults put back by the
// destructor. One at a time.
class QuitOnSignal : public QObject
{
public:
    explicit QuitOnSignal(std::function<void()> onSignal, QObject* parent = nullptr);
    ~QuitOnSignal() override;
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

    // The last signal taken, 0 before any.
    int lastSignal() const { return lastSignal_; }

private:
    void drain();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    int lastSignal_ = 0;
};

} // namespace velo
