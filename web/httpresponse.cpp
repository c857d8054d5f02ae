#include "web/httpresponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace tavoxa {

namespace {

const char* ReasonPhrase(int status)
{
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 415:
            return "Unsupported Media Type";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        default:
            return "Unknown";
    }
}

}  // namespace

QByteArray HttpResponseBytes(int status, const QByteArray& contentType, const QByteArray& body,
                             const HeaderList& headers, bool close)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    return out + "\r\n" + body;
}

QByteArray HttpErrorBytes(int status, const QString& reason, const HeaderList& headers, bool close)
{
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}}).toJson(QJsonDocument::Compact);
    HeaderList all = headers;
    all.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
    return HttpResponseBytes(status, "application/json", body, all, close);
}

}  // namespace tavoxa
