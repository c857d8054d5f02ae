// Checks login passwords against the stored hash on a thread of its own, one at a time: a check
// takes tens of milliseconds and much memory, and must never hold up the second tick.
//
// Threads: created and called on the main thread; the hashing runs on the checker's worker
// thread; the answer is delivered on the main thread.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <functional>

namespace tavoxa {

class PasswordChecker : public QObject {
    Q_OBJECT
public:
    explicit PasswordChecker(QObject* parent = nullptr);
    ~PasswordChecker() override;

    // Checks `password` against `hash`; `done` runs on the main thread with the outcome unless
    // `context` has gone by then. The password's bytes are wiped once checked.
    void Check(const QByteArray& hash, QByteArray password, QObject* context, std::function<void(bool)> done);

private:
    QThread thread_;
    QObject* worker_ = nullptr;  // lives on thread_
};

}  // namespace tavoxa
