#include "web/passwordchecker.h"

#include <sodium.h>

#include <QPointer>

#include "web/webconfig.h"

namespace tavoxa {

PasswordChecker::PasswordChecker(QObject* parent) : QObject(parent)
{
    thread_.setObjectName(QStringLiteral("password check"));
    worker_ = new QObject;
    worker_->moveToThread(&thread_);
    thread_.start();
}

PasswordChecker::~PasswordChecker()
{
    thread_.quit();
    thread_.wait();
    delete worker_;  // its thread has ended: nothing runs on it any more
}

void PasswordChecker::Check(const QByteArray& hash, QByteArray password, QObject* context,
                            std::function<void(bool)> done)
{
    QPointer<QObject> alive(context);
    QPointer<PasswordChecker> self(this);
    // The worker's queue runs the checks in order, one at a time.
    QMetaObject::invokeMethod(
        worker_,
        [hash, password, alive, self, done = std::move(done)]() mutable {
            const bool ok = VerifyPassword(hash, password);
            sodium_memzero(password.data(), static_cast<size_t>(password.size()));
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [alive, ok, done = std::move(done)] {
                    if (alive)
                        done(ok);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

}  // namespace tavoxa
