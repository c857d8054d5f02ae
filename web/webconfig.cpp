#include "web/webconfig.h"

#include <sodium.h>

#include <QFile>
#include <QSaveFile>

namespace tavoxa {

bool ParseHttpAddress(const QString& text, QHostAddress* address, quint16* port, QString* error)
{
    QString host;
    QString portText = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint n = portText.toUInt(&ok);
    if (!ok || n > 65535) {
        *error =
            QStringLiteral("--http takes [ADDRESS:]PORT with a port from 0 to 65535, not \"%1\"").arg(text);
        return false;
    }
    QHostAddress a = QHostAddress::Any;
    if (colon >= 0 && !a.setAddress(host)) {
        *error = QStringLiteral("--http: \"%1\" is not an IP address").arg(host);
        return false;
    }
    *address = a;
    *port = static_cast<quint16>(n);
    return true;
}

bool SodiumReady()
{
    return sodium_init() >= 0;
}

bool HashPassword(const QByteArray& password, QByteArray* hash)
{
    char out[crypto_pwhash_STRBYTES];
    if (!SodiumReady() ||
        crypto_pwhash_str(out, password.constData(), static_cast<unsigned long long>(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return false;
    *hash = QByteArray(out);
    return true;
}

bool VerifyPassword(const QByteArray& hash, const QByteArray& password)
{
    return SodiumReady() && crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                                     static_cast<unsigned long long>(password.size())) == 0;
}

bool WritePasswordFile(const QString& path, const QByteArray& password, QString* error)
{
    QByteArray hash;
    if (!HashPassword(password, &hash)) {
        *error = QStringLiteral("the password could not be hashed (out of memory?)");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(hash + '\n') != hash.size() + 1 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ReadPasswordFile(const QString& path, QByteArray* hash, QString* error)
{
    QFile file(path);
    if (!file.exists()) {
        *error = QStringLiteral("%1 not found: set a password first with tavoxa --web-password").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(crypto_pwhash_STRBYTES + 2).trimmed();
    if (!text.startsWith(crypto_pwhash_STRPREFIX) || text.size() >= crypto_pwhash_STRBYTES) {
        *error =
            QStringLiteral("%1 holds no password hash: set the password again with tavoxa --web-password")
                .arg(path);
        return false;
    }
    *hash = text;
    return true;
}

}  // namespace tavoxa
