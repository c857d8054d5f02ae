#include "core/configfiles.h"

#include <QStringDecoder>
#include <exception>

#include "engine/hardware.h"
#include "engine/secondtick.h"
#include "storage/fileaccess.h"

namespace tavoxa {

QString NameText(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(QByteArray::fromStdString(bytes));
    return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

ConfigFiles::ConfigFiles(Model& model, AdapterState& adapter, const Clock& clock)
    : model_(model), adapter_(adapter), clock_(clock)
{
}

SettingsFileContent ConfigFiles::ReadSettingsFile()
{
    SettingsFileContent content = LoadSettingsFile();
    // Without a stored name the program works on "tavoxa.dat" in the current directory, so the
    // first close writes it and the next start loads it.
    configFileName_ = EffectiveConfigName(content.ConfigFileName);
    names_ = content.Names;
    return content;
}

int ConfigFiles::LoadConfiguration()
{
    ConfigTarget target(model_, adapter_.ComNumber, adapter_.ChipAddress);
    // The chooser knows two chips: 32 selects the PCF8574, whatever else the file holds the
    // PCF8574A, and the address used and kept in the file is the one the chooser shows.
    const auto settle = [this] {
        adapter_.ChipAddress = ChipAddressOfItem(ChipItemOfAddress(adapter_.ChipAddress));
    };
    bool opened = false;
    try {
        opened = LoadConfigurationFile(configFileName_, target, storage_);
    } catch (...) {
        settle();
        throw;
    }
    if (!opened)
        ApplyDefaults(model_, clock_);
    settle();
    if (opened && target.ValuesRead < kConfigLineCount)
        return target.ValuesRead;
    return -1;
}

std::vector<std::string> ConfigFiles::RemoveLeftOvers() const
{
    return RemoveStaleTemporaries(
        {kSettingsFileName, configFileName_, BackupName(configFileName_), BackupName(kSettingsFileName)});
}

void ConfigFiles::SaveConfiguration()
{
    SaveConfigurationFile(configFileName_, model_, adapter_.ComNumber, adapter_.ChipAddress, storage_);
}

void ConfigFiles::SaveSettingsFile(const std::string& password, const std::string& port, bool remoteOn)
{
    configFileName_ = StripDirectory(configFileName_);
    SettingsFileContent content;
    content.ConfigFileName = configFileName_;
    content.RemotePassword = password;
    content.RemotePort = port;
    content.Names = names_;
    content.Remote = remoteOn;
    tavoxa::SaveSettingsFile(content);
}

}  // namespace tavoxa
