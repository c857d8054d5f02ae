// What the web page needs from the command line and the folder: where to listen, the TLS files,
// and the password file web.passwd with its Argon2id hash (libsodium's crypto_pwhash_str).
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace tavoxa {

inline constexpr char kPasswordFileName[] = "web.passwd";

struct WebConfig {
    QHostAddress address = QHostAddress::Any;
    quint16 port = 8080;
    QString certFile;  // both set: HTTPS
    QString keyFile;
    QString passwordFile = QString::fromLatin1(kPasswordFileName);
    // The serial device given on the command line (--device), shown instead of the COM number and
    // not chosen from the page; empty: the COM number's device.
    QString device;
    // "de" or "en": the page's language where the browser names none.
    QString language = QStringLiteral("en");
};

// "[ADDRESS:]PORT": "8080", "127.0.0.1:8080", "[::1]:8080"; port 0 is a free port the system
// picks, named in the log. False with the reason otherwise.
bool ParseHttpAddress(const QString& text, QHostAddress* address, quint16* port, QString* error);

// libsodium ready for use; false when it cannot start (no randomness source).
bool SodiumReady();
// The salted hash of `password` in crypto_pwhash_str's text form (interactive limits).
bool HashPassword(const QByteArray& password, QByteArray* hash);
bool VerifyPassword(const QByteArray& hash, const QByteArray& password);
// Writes the hash of `password` to `path` with mode 0600, atomically.
bool WritePasswordFile(const QString& path, const QByteArray& password, QString* error);
// The hash stored in `path`; false with the reason (no file, unreadable, not a hash).
bool ReadPasswordFile(const QString& path, QByteArray* hash, QString* error);

}  // namespace tavoxa
