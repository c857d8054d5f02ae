#include "core/remoteswitch.h"

#include <QTimer>

#include "remote/remoteserver.h"

namespace tavoxa {

RemoteSwitch::RemoteSwitch(Model& model, SwitchingLog& log, QObject* parent)
    : QObject(parent), log_(log), server_(std::make_unique<RemoteServer>(remote_, model))
{
    retry_ = new QTimer(this);
    retry_->setInterval(10000);
    connect(retry_, &QTimer::timeout, this, &RemoteSwitch::Retry);
    // Failed logins, logged by the login guard at most one line a second.
    connect(server_.get(), &RemoteServer::LogLine, this, [this](const QString& line) { log_.Write(line); });
}

RemoteSwitch::~RemoteSwitch() = default;

void RemoteSwitch::SetRetryInterval(int ms)
{
    retry_->setInterval(ms);
}

bool RemoteSwitch::SetRemote(bool on)
{
    remoteOn_ = on;
    retry_->stop();
    const bool wasOpen = server_->IsOpen();
    if (server_->RemoteSwitched(on)) {
        if (server_->IsOpen() && !wasOpen)
            NoteListening();
        else if (!server_->IsOpen() && wasOpen)
            log_.Write(QStringLiteral("remote server closed"));
        return on;
    }
    log_.Write(QStringLiteral("remote server cannot listen on port %1: %2")
                   .arg(RemotePortNumber(remote_.RemotePort))
                   .arg(server_->LastError()),
               LogPriority::Warning);
    server_->RemoteSwitched(false);
    if (unattended_) {
        // Nobody can switch it on again: keep the user's choice and try again.
        retry_->start();
        return on;
    }
    remoteOn_ = false;
    emit RemoteOnChanged(false);
    return false;
}

void RemoteSwitch::Close()
{
    server_->Close();
    retry_->stop();
}

void RemoteSwitch::Retry()
{
    if (!remoteOn_ || server_->IsOpen()) {
        retry_->stop();
        return;
    }
    if (server_->RemoteSwitched(true)) {
        retry_->stop();
        NoteListening();
        return;
    }
    server_->RemoteSwitched(false);
}

void RemoteSwitch::NoteListening()
{
    log_.Write(QStringLiteral("remote server listening on port %1").arg(server_->BoundPort()));
    if (remote_.RemotePassword.empty())
        log_.Write(QStringLiteral("remote switching stays locked until a password is set"));
}

}  // namespace tavoxa
