// The main window's steps that belong to the files, the remote server, the help window and the
// IP dialog.
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QRadioButton>
#include <QStringDecoder>

#include "engine/secondtick.h"
#include "remote/remoteserver.h"
#include "storage/configfile.h"
#include "storage/ioerror.h"
#include "storage/settingsfile.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/selector.h"

namespace tavoxa {
namespace {

// The names in swcf.ini are bytes as a text editor left them: shown as UTF-8 when they are,
// else one byte per character.
QString NameText(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(QByteArray::fromStdString(bytes));
    return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

}  // namespace

void TForm1::BuildFileDialogs()
{
    // Both dialogs open in the current directory, since they are given no directory of their own.
    const QStringList filters{QStringLiteral("*.dat (*.dat)"), QStringLiteral("alle (*)")};
    OpenDialog1_ = new QFileDialog(this);
    OpenDialog1_->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1_->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1_->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
    OpenDialog1_->setNameFilters(filters);
    SaveDialog1_ = new QFileDialog(this);
    SaveDialog1_->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1_->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1_->setFileMode(QFileDialog::AnyFile);
    SaveDialog1_->setNameFilters(filters);
    SaveDialog1_->setDefaultSuffix(QStringLiteral("dat"));
    SaveDialog1_->setOption(QFileDialog::DontConfirmOverwrite);
}

QString TForm1::AskFileName(QFileDialog* dialog)
{
    dialog->setDirectory(QDir::currentPath());
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(QFileInfo(dialog->selectedFiles().first()).absoluteFilePath());
}

void TForm1::InitRemoteState() { remote_.RemoteState = Idle; }

void TForm1::LoadSettingsFile()
{
    const SettingsFileContent content = tavoxa::LoadSettingsFile();
    // Without a stored name the program works on "tavoxa.dat" in the current directory, so the
    // first close writes it and the next start loads it.
    ConfigFileName_ = EffectiveConfigName(content.ConfigFileName);
    remote_.RemotePassword = content.RemotePassword;
    remote_.RemotePort = content.RemotePort;
    for (int i = 0; i < 8; ++i) {
        names_[static_cast<size_t>(i)] = content.Names[static_cast<size_t>(i)];
        Lamp(i)->setText(NameText(content.Names[static_cast<size_t>(i)]));
    }
    // Checking the box runs CheckBox7Click, which opens the server on the port just read.
    CheckBox7_->setChecked(content.Remote);
}

void TForm1::LoadConfiguration()
{
    ConfigTarget target(model_, adapter_.ComNumber, adapter_.ChipAddress);
    // The selectors follow what the file held, also when the load fails half way. A change of
    // the chosen chip item runs RadioGroup1Click, so the address follows the item.
    auto applyPortAndChip = [&](int valuesRead) {
        if (valuesRead >= 1)
            ComboBox19_->SetPosition(adapter_.ComNumber - 1);
        if (valuesRead >= 2)
            chipItem_[adapter_.ChipAddress == 0x20 ? 0 : 1]->setChecked(true);
    };
    bool loaded = false;
    try {
        loaded = LoadConfigurationFile(ConfigFileName_, target, storage_);
    } catch (const IoError&) {
        applyPortAndChip(target.ValuesRead);
        throw;
    }
    if (!loaded)
        ApplyDefaults(model_, clock_);
    else
        applyPortAndChip(kConfigLineCount);  // missing values were stored as 0
    RefreshView();
}

void TForm1::SaveConfiguration()
{
    SaveConfigurationFile(ConfigFileName_, model_, adapter_.ComNumber, adapter_.ChipAddress, storage_);
}

void TForm1::SaveSettingsFile()
{
    ConfigFileName_ = StripDirectory(ConfigFileName_);
    SettingsFileContent content;
    content.ConfigFileName = ConfigFileName_;
    content.RemotePassword = remote_.RemotePassword;
    content.RemotePort = remote_.RemotePort;
    content.Names = names_;
    content.Remote = CheckBox7_->isChecked();
    tavoxa::SaveSettingsFile(content);
}

void TForm1::RemoteCloseStep() { server_->RemoteCloseStep(); }

void TForm1::DestroyRemoteServer() { server_->Close(); }

void TForm1::FormActivate()
{
    if (form3_)
        form3_->Refill();
}

void TForm1::Button10Click()
{
    if (help_)
        help_->exec();
}

void TForm1::Button11Click()
{
    const QString path = AskFileName(SaveDialog1_);
    if (path.isEmpty())
        return;
    ConfigFileName_ = path.toStdString();
    SaveConfiguration();
    Button7Click();
}

void TForm1::Button12Click()
{
    const QString path = AskFileName(OpenDialog1_);
    if (path.isEmpty())
        return;
    ConfigFileName_ = path.toStdString();
    LoadConfiguration();
    adapter_.PortSettings = BuildPortSettings("COM", adapter_.ComNumber);
    ResetSwitching(model_);
    Button7Click();
}

void TForm1::Button13Click()
{
    if (form3_)
        form3_->exec();
}

void TForm1::CheckBox7Click()
{
    // A port that cannot be bound unchecks the box without a message; the unchecking runs this
    // handler again for the unchecked state.
    if (!server_->RemoteSwitched(CheckBox7_->isChecked()))
        CheckBox7_->setChecked(false);
}

}  // namespace tavoxa
