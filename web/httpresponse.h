// One HTTP/1.1 response as bytes: the web server writes every answer through it, also those it
// gives later (a login once its password is checked) and those the connection guard gives
// before the HTTP server has seen the request.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace tavoxa {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

QByteArray HttpResponseBytes(int status, const QByteArray& contentType, const QByteArray& body,
                             const HeaderList& headers = {}, bool close = false);
// {"error": "..."} as an answer.
QByteArray HttpErrorBytes(int status, const QString& reason, const HeaderList& headers = {},
                          bool close = false);

}  // namespace tavoxa
