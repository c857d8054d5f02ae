#include "storage/fileaccess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include "storage/ioerror.h"

namespace tavoxa {
namespace {

QString ToFileName(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string FromFileName(const QString& name)
{
    const QByteArray bytes = QFile::encodeName(name);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

int PlatformErrorCode(QFileDevice::FileError error, bool writing)
{
    switch (error) {
        case QFileDevice::ResourceError:
            return kIoDiskFull;
        case QFileDevice::PermissionsError:
        case QFileDevice::RenameError:
            return kIoAccessDenied;
        default:
            return writing ? kIoWriteFault : kIoReadFault;
    }
}

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    const QString name = ToFileName(path);
    const QFileInfo info(name);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw IoError(PlatformErrorCode(file.error(), false));
    return std::string(data.constData(), static_cast<size_t>(data.size()));
}

bool FileExists(const std::string& path)
{
    return !path.empty() && QFileInfo::exists(ToFileName(path));
}

bool IsWriteProtected(const std::string& path)
{
    const QFileInfo info(ToFileName(path));
    if (!info.exists())
        return false;
    constexpr QFileDevice::Permissions anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(info.permissions() & anyWrite) || !info.isWritable();
}

void WriteAll(QFileDevice& file, std::string_view bytes)
{
    const qint64 size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size || !file.flush())
        throw IoError(PlatformErrorCode(file.error(), true));
}

void CheckReplaceable(const std::string& path)
{
    if (path.empty())
        throw IoError(kIoCannotCreate);
    // QSaveFile replaces the file by renaming, which needs only the directory's permission:
    // without this check it would overwrite a write-protected file or a device node.
    const QFileInfo info(ToFileName(path));
    if (info.exists() && (!info.isFile() || IsWriteProtected(path)))
        throw IoError(kIoCannotCreate);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes)
{
    CheckReplaceable(path);
    QSaveFile file(ToFileName(path));
    if (!file.open(QIODevice::WriteOnly))
        throw IoError(kIoCannotCreate);
    WriteAll(file, bytes);  // on a throw the temporary file is discarded with `file`
    if (!file.commit())
        throw IoError(PlatformErrorCode(file.error(), true));
}

std::string AbsoluteFilePath(const std::string& path)
{
    return FromFileName(QDir::cleanPath(QFileInfo(ToFileName(path)).absoluteFilePath()));
}

}  // namespace tavoxa
