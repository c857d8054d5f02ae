// The two files of a running program: swcf.ini (the configuration file's name, the remote
// settings, the eight names, the Remote switch) and the configuration file (the relays' settings,
// COM number and chip). Used by the core and by `--plan`, which reads them as the start-up does.
//
// Threads: the thread of its owner (the main thread). Reads and writes throw IoError, which the
// caller reports.
#pragma once

#include <QString>
#include <array>
#include <string>
#include <vector>

#include "adapter/adapterstate.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"

namespace tavoxa {

// A name from swcf.ini as text: UTF-8 when the bytes are, else one byte per character.
QString NameText(const std::string& bytes);

class ConfigFiles {
public:
    ConfigFiles(Model& model, AdapterState& adapter, const Clock& clock);

    // Reads swcf.ini: the configuration file's name (tavoxa.dat without one) and the names are
    // kept here; the rest is returned for the remote settings.
    SettingsFileContent ReadSettingsFile();
    // Reads the configuration file into the model, or the defaults when it cannot be opened; the
    // chip then is the one the chooser shows (32 the PCF 8574, anything else the PCF 8574 A), also
    // when the load fails half way. Returns the number of values read for a file that ends
    // early, else -1.
    int LoadConfiguration();
    void SaveConfiguration();
    // Removes what a save that was cut off left beside the two files (their temporary copies and
    // those of their .bak); returns the names removed. Only the program that holds the folder's
    // lock may call it.
    std::vector<std::string> RemoveLeftOvers() const;
    // Writes swcf.ini: the configuration file's name without its folder (kept so from now on),
    // the remote password and port, the names and the Remote switch.
    void SaveSettingsFile(const std::string& password, const std::string& port, bool remoteOn);

    const std::string& configFileName() const { return configFileName_; }
    void SetConfigFileName(const std::string& name) { configFileName_ = name; }
    // Lines 4..11 of swcf.ini as read (relays 1..6, K1, K2): kept byte for byte.
    const std::array<std::string, 8>& names() const { return names_; }
    void SetNames(const std::array<std::string, 8>& names) { names_ = names; }
    // The name of relay 0..5 or input 6..7 as text.
    QString Name(int index) const { return NameText(names_[static_cast<size_t>(index)]); }

private:
    Model& model_;
    AdapterState& adapter_;
    const Clock& clock_;
    StorageState storage_;
    std::string configFileName_;
    std::array<std::string, 8> names_{};
};

}  // namespace tavoxa
