#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into the quitRequested signal on the main thread (a self-pipe
// written by the signal handler and watched by the event loop). One instance at a time.
class QuitSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    bool IsActive() const { return notifier_ != nullptr; }

  signals:
    void quitRequested(int signalNumber);

  private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};
