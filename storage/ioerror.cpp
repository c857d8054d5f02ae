#include "storage/ioerror.h"

#include <QtGlobal>

namespace tavoxa {

const char* IoErrorSourceText(int code)
{
    switch (code) {
        case 2:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Datei nicht gefunden");
        case 3:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Ungültiger Dateiname");
        case 4:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Zu viele geöffnete Dateien");
        case 5:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Dateizugriff verweigert");
        case 100:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Versuch hinter dem Dateiende zu lesen");
        case 101:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Zu wenig Speicherplatz");
        case 106:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "Ungültige numerische Eingabe");
        default:
            return QT_TRANSLATE_NOOP("tavoxa::IoError", "E/A-Fehler %1");
    }
}

std::string IoErrorMessage(int code)
{
    std::string text = IoErrorSourceText(code);
    if (const size_t at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, std::to_string(code));
    return text;
}

IoError::IoError(int code) : code_(code), message_(IoErrorMessage(code)) {}

}  // namespace tavoxa
