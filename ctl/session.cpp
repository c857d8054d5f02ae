#include "ctl/session.h"

#include <QDateTime>
#include <QEventLoop>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimer>
#include <algorithm>

#include "engine/hardware.h"
#include "engine/model.h"
#include "remote/protocol.h"

namespace tavoxa {
namespace {

QByteArray Bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

bool RelayOn(uint8_t byte, int relay)
{
    return (byte >> relay) & 1u;
}
// A contact pulls its line low when closed.
bool K1Closed(uint8_t byte)
{
    return (byte & kK1Mask) == 0;
}
bool K2Closed(uint8_t byte)
{
    return (byte & kK2Mask) == 0;
}

QStringList Items(uint8_t byte, uint8_t shown)
{
    QStringList items;
    for (int relay = 0; relay < kRelayCount; ++relay) {
        if (shown & (1u << relay))
            items << QStringLiteral("relay %1 %2").arg(relay + 1).arg(RelayOn(byte, relay) ? "on" : "off");
    }
    if (shown & kK1Mask)
        items << QStringLiteral("K1 %1").arg(K1Closed(byte) ? "closed" : "open");
    if (shown & kK2Mask)
        items << QStringLiteral("K2 %1").arg(K2Closed(byte) ? "closed" : "open");
    return items;
}

QString Seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 4);
}

}  // namespace

QString StateLines(uint8_t byte)
{
    return Items(byte, 0xFF).join('\n') + '\n';
}

QString ChangeLine(uint8_t byte, std::optional<uint8_t> before)
{
    const uint8_t changed = before ? static_cast<uint8_t>(byte ^ *before) : 0xFF;
    return Items(byte, changed).join(QStringLiteral(", "));
}

QByteArray StateJson(uint8_t byte, const QString& time)
{
    QJsonArray relays;
    for (int relay = 0; relay < kRelayCount; ++relay)
        relays.append(RelayOn(byte, relay));
    QJsonObject object{
        {"byte", byte}, {"relays", relays}, {"k1_closed", K1Closed(byte)}, {"k2_closed", K2Closed(byte)}};
    if (!time.isEmpty())
        object.insert("time", time);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

CtlSession::CtlSession(CtlRequest request, QIODevice& out, QIODevice& err, QObject* parent)
    : QObject(parent), request_(std::move(request)), out_(out), err_(err)
{
}

int CtlSession::Run()
{
    int code = ExitDone;
    try {
        Connect();
        switch (request_.command) {
            case CtlCommand::Status:
                PrintState(Query());
                break;
            case CtlCommand::Watch:
                code = Watch();
                break;
            default:
                code = Switch();
                break;
        }
    } catch (const Failure& failure) {
        code = failure.code;
        if (!failure.message.isEmpty())
            Complain(failure.message);
    }
    // A server switching remote access off waits for its refused client to leave.
    stopRequested_ = false;
    socket_.disconnectFromHost();
    try {
        Spin(QDeadlineTimer(1000), [this] { return socket_.state() == QAbstractSocket::UnconnectedState; });
    } catch (const Failure&) {
    }
    socket_.abort();
    return code;
}

void CtlSession::Stop()
{
    stopRequested_ = true;
    if (loop_)
        loop_->quit();
}

void CtlSession::Connect()
{
    const QDeadlineTimer deadline(request_.timeoutMs);
    socket_.connectToHost(request_.host, request_.port);
    const bool ended = Spin(deadline, [this] {
        return socket_.state() == QAbstractSocket::ConnectedState ||
               socket_.state() == QAbstractSocket::UnconnectedState;
    });
    const QString where = QStringLiteral("%1 port %2").arg(request_.host).arg(request_.port);
    if (!ended)
        throw Failure{
            ExitNoServer,
            QStringLiteral("cannot connect to %1 within %2 s").arg(where, Seconds(request_.timeoutMs))};
    if (socket_.state() != QAbstractSocket::ConnectedState)
        throw Failure{ExitNoServer,
                      QStringLiteral("cannot connect to %1: %2").arg(where, socket_.errorString())};
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const Answer greeting = Await(QStringLiteral("greeting"));
    if (greeting.kind != Answer::Greeting)
        throw Failure{ExitUnreadable,
                      QStringLiteral("the server at %1 did not greet as a Tavoxa remote does").arg(where)};
}

void CtlSession::Login()
{
    const QByteArray login = Bytes(kLoginKeyword) + *request_.password;
    const QString what = QStringLiteral("answer to the login");
    Send(login + '\n');
    Answer answer = Await(what);
    if (answer.kind == Answer::Legal) {
        lineEnds_ = true;
        return;
    }
    if (answer.kind != Answer::NoLegal)
        throw Failure{ExitUnreadable, QStringLiteral("the server answered the login with a relay byte")};
    // A server that reads line ends ends its refusal with one; one that does not compared
    // the whole read, line end included, and is asked again without it.
    if (answers_.StartsWithLineEnd())
        LoginRefused();
    Send(login);
    answer = Await(what, true);
    if (answer.kind != Answer::Legal)
        LoginRefused();
    lineEnds_ = false;
}

void CtlSession::LoginRefused()
{
    throw Failure{ExitLoginFailed, QStringLiteral("login refused: wrong password, or remote access is being "
                                                  "switched off at the server")};
}

uint8_t CtlSession::Query()
{
    Send(Bytes(kStatusQuery) + (lineEnds_ ? "\n" : ""));
    const Answer answer = Await(QStringLiteral("answer to \"repeat\""));
    if (answer.kind == Answer::Number)
        return answer.value;
    if (answer.kind == Answer::NoLegal)
        throw Failure{ExitLoginFailed,
                      QStringLiteral("the server refused: remote access is being switched off there")};
    throw Failure{ExitUnreadable, QStringLiteral("the server answered \"repeat\" without a relay byte")};
}

void CtlSession::Send(const QByteArray& message)
{
    socket_.write(message);
    socket_.flush();
}

bool CtlSession::Absorb()
{
    const QByteArray bytes = socket_.readAll();
    answers_.Feed(bytes);
    return !bytes.isEmpty();
}

Answer CtlSession::Await(const QString& what, bool lineEndRefuses)
{
    const QDeadlineTimer deadline(request_.timeoutMs);
    bool settled = false;
    for (;;) {
        Absorb();
        if (lineEndRefuses && answers_.StartsWithLineEnd())
            LoginRefused();
        Answer answer;
        switch (answers_.Next(answer, settled)) {
            case AnswerStream::Status::Ready:
                return answer;
            case AnswerStream::Status::Unreadable:
                throw Failure{ExitUnreadable, QStringLiteral("cannot read the server's %1: \"%2\"")
                                                  .arg(what, EscapedServerBytes(answers_.Rest().left(40)))};
            case AnswerStream::Status::NeedMore:
                break;
        }
        const auto more = [this] { return Absorb() || socket_.state() == QAbstractSocket::UnconnectedState; };
        if (!lineEnds_ && answers_.HoldsOpenNumber() && !settled) {
            settled = !Spin(QDeadlineTimer(kNumberSettleMs), more);
            continue;
        }
        if (socket_.state() == QAbstractSocket::UnconnectedState)
            throw Failure{ExitNoServer,
                          QStringLiteral("the server closed the connection before its %1").arg(what)};
        if (!Spin(deadline, more)) {
            QString message = QStringLiteral("no %1 within %2 s").arg(what, Seconds(request_.timeoutMs));
            if (what.contains(QLatin1String("login")))
                message += QStringLiteral(
                    "; the server answers logins late after wrong passwords from the same address, so try "
                    "again later or give a longer --timeout");
            throw Failure{ExitNoServer, message};
        }
    }
}

bool CtlSession::Spin(const QDeadlineTimer& deadline, const std::function<bool()>& done)
{
    while (!done()) {
        if (stopRequested_)
            throw Failure{ExitDone, {}};
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(&socket_, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        connect(&socket_, &QTcpSocket::stateChanged, &loop, &QEventLoop::quit);
        connect(&socket_, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    return true;
}

int CtlSession::Switch()
{
    Login();
    const uint8_t before = Query();
    const uint8_t mask = request_.relayMask;
    uint8_t sent = before;
    uint8_t checked = mask;
    switch (request_.command) {
        case CtlCommand::On:
            sent = before | mask;
            break;
        case CtlCommand::Off:
            sent = before & static_cast<uint8_t>(~mask);
            break;
        case CtlCommand::Toggle:
            sent = before ^ mask;
            break;
        default:
            sent = request_.byte;
            checked = kRelayMask;
            break;
    }
    Send(QByteArray::number(sent) + (lineEnds_ ? "\n" : ""));
    Spin(QDeadlineTimer(readbackDelayMs_), [] { return false; });
    const uint8_t after = Query();
    PrintState(after);
    const uint8_t missed = (after ^ sent) & checked;
    for (int relay = 0; relay < kRelayCount; ++relay) {
        if (missed & (1u << relay))
            Complain(QStringLiteral("relay %1 did not take the state: it is %2 (its mode switched it back; "
                                    "a relay follows the remote only in mode \"Toggle\")")
                         .arg(relay + 1)
                         .arg(RelayOn(after, relay) ? "on" : "off"));
    }
    return missed ? ExitNotTaken : ExitDone;
}

int CtlSession::Watch()
{
    std::optional<uint8_t> last;
    for (;;) {
        const QDeadlineTimer next(watchIntervalMs_);
        const uint8_t byte = Query();
        if (byte != last) {
            const QString time = QDateTime::currentDateTime().toString(Qt::ISODate);
            if (request_.json)
                out_.write(StateJson(byte, time));
            else
                Print(time + ' ' + ChangeLine(byte, last) + '\n');
            last = byte;
        }
        Spin(next, [] { return false; });
    }
}

void CtlSession::Print(const QString& text)
{
    out_.write(text.toUtf8());
}

void CtlSession::PrintState(uint8_t byte)
{
    if (request_.json)
        out_.write(StateJson(byte));
    else
        Print(StateLines(byte));
}

void CtlSession::Complain(const QString& message)
{
    err_.write(QStringLiteral("tavoxa-ctl: %1\n").arg(message).toUtf8());
}

}  // namespace tavoxa
