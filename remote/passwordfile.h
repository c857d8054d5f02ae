// A password kept in a file of its own, so it does not show in the process list: the file's
// first line, without its line end. Used by every client that logs in somewhere with a password
// given as a file (tavoxa-ctl to the remote, the program to an MQTT broker).
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tavoxa {

// The first line of `path` (at most 64 KiB); nullopt with the reason in `error` when the file
// cannot be read.
std::optional<QByteArray> ReadPasswordFile(const QString& path, QString& error);

}  // namespace tavoxa
