// The main window with its files and its remote server: start-up reads swcf.ini and the
// configuration file, closing writes both, Load and Save, and the Remote switch.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "remote/remoteserver.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "ui/form1.h"
#include "ui/form1testkit.h"

namespace tavoxa::test {
namespace {

// Each test works in a directory of its own, as the program works in its current directory.
class WorkDir {
public:
    WorkDir() : saved_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~WorkDir() { QDir::setCurrent(saved_); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString saved_;
};

void WriteBytes(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// The server runs on this thread: wait with the event loop turning, never with a blocking call.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 5000)
{
    for (int waited = 0; !condition() && waited < timeoutMs; waited += 5)
        QTest::qWait(5);
    return condition();
}

std::string SettingsLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\r\n";
    return out;
}

// The window with the file dialogs answered by the test.
class FormWithDialogs : public TForm1 {
public:
    using TForm1::TForm1;
    QString answer;
    int asked = 0;

protected:
    QString AskFileName(QFileDialog*) override
    {
        ++asked;
        return answer;
    }
};

class Form1Files : public ::testing::Test {
protected:
    void Start() { form = std::make_unique<FormWithDialogs>(board, clock, random, delay); }

    template <typename T>
    T* Find(const QString& name) const
    {
        T* widget = form->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << "no " << name.toStdString();
        return widget;
    }

    WorkDir work;
    ReportRecorder recorder;
    SimulatedBoard board;
    StepClock clock;
    LcgRandom random;
    NoBusDelay delay;
    std::unique_ptr<FormWithDialogs> form;
};

TEST_F(Form1Files, FirstStartWritesTavoxaDatAndTheNextStartLoadsIt)
{
    Start();
    EXPECT_EQ(form->configFileName(), "tavoxa.dat");
    EXPECT_FALSE(Find<QCheckBox>("CheckBox7")->isChecked()) << "no settings file opens no server";
    form->model().RelayMode(2) = ModeTimer;
    form->model().SecondsTimer[4].StartAfter = 77;
    ASSERT_TRUE(form->close());
    EXPECT_TRUE(recorder.reports.isEmpty()) << recorder.reports.join("|").toStdString();

    const SettingsFileContent settings = tavoxa::LoadSettingsFile(work.Path("swcf.ini").toStdString());
    EXPECT_EQ(settings.ConfigFileName, "tavoxa.dat");
    EXPECT_FALSE(settings.Remote);
    EXPECT_TRUE(QFile::exists(work.Path("tavoxa.dat")));

    Start();
    EXPECT_EQ(form->model().RelayMode(2), ModeTimer);
    EXPECT_EQ(form->model().SecondsTimer[4].StartAfter, 77);
    EXPECT_EQ(Find<QComboBox>("ComboBox3")->currentIndex(), ModeTimer);
}

TEST_F(Form1Files, NamesPasswordAndPortSurviveARestartByteForByte)
{
    // Leading and trailing blanks, UTF-8 and a byte that is no UTF-8 at all.
    // In two pieces, so that the hex escape ends before the "c".
    const std::string kitchen =
        "K\xc3\xbc"
        "che";
    const std::vector<std::string> lines = {"haus.dat", "geheim", "26535", " Licht ", kitchen, "Tor\xe4",
                                            "4",        "5",      "Uhr",   "Tür",     "K2 ",   "0"};
    WriteBytes(work.Path("swcf.ini"), SettingsLines(lines));
    Start();
    EXPECT_EQ(Find<QLabel>("Label1")->text(), " Licht ");
    EXPECT_EQ(Find<QLabel>("Label2")->text(), QString::fromStdString(kitchen));
    EXPECT_EQ(Find<QLabel>("Label3")->text(), QString::fromLatin1("Tor\xe4"));
    EXPECT_EQ(Find<QLabel>("Label6")->text(), "Uhr");
    EXPECT_EQ(form->remote().RemotePassword, "geheim");
    EXPECT_EQ(form->remote().RemotePort, "26535");
    EXPECT_FALSE(Find<QCheckBox>("CheckBox7")->isChecked());
    ASSERT_TRUE(form->close());
    EXPECT_EQ(ReadBytes(work.Path("swcf.ini")), SettingsLines(lines));
}

TEST_F(Form1Files, StoredComPortAndChipAreShownAndOpened)
{
    Model stored;
    stored.RelayMode(0) = ModeSecondsTimer;
    WriteBytes(work.Path("haus.dat"), WriteConfiguration(stored, 5, 56));
    WriteBytes(work.Path("swcf.ini"), SettingsLines({"haus.dat"}));
    Start();
    EXPECT_EQ(Find<QComboBox>("ComboBox19")->currentIndex(), 4);
    EXPECT_EQ(form->adapter().ChipAddress, 0x38);
    EXPECT_EQ(form->adapter().PortSettings, "Com5:4800,N,8,1");
    EXPECT_TRUE(form->adapter().PortOpen);
    EXPECT_EQ(form->model().SecondsTimer[0].SecondCount, -1);
}

TEST_F(Form1Files, ABadNumberIsReportedAndLeavesThePortClosed)
{
    Model stored;
    std::string text = WriteConfiguration(stored, 2, 32);
    text.replace(text.find("\r\n", text.find("\r\n") + 2) + 2, 1, "x");  // line 3: a letter
    WriteBytes(work.Path("haus.dat"), text);
    WriteBytes(work.Path("swcf.ini"), SettingsLines({"haus.dat"}));
    Start();
    ASSERT_EQ(recorder.reports.size(), 1);
    EXPECT_EQ(recorder.reports.first(), QString::fromUtf8("Ungültige numerische Eingabe."));
    EXPECT_FALSE(form->adapter().PortOpen);
    EXPECT_TRUE(form->adapter().PortSettings.empty());

    // The file that failed is kept beside it before the close overwrites it.
    ASSERT_TRUE(form->close());
    EXPECT_EQ(ReadBytes(work.Path("haus.dat.bak")), text);
}

TEST_F(Form1Files, LoadResetsAndStartsSaveStartsWithoutReset)
{
    Start();
    form->adapter().ComNumber = 3;
    form->Button8Click();  // STOP: Load and Save need the port closed
    SetRelay(form->model(), 1);

    form->answer = work.Path("zwei.dat");
    emit Find<QPushButton>("Button11")->clicked();  // Save
    EXPECT_EQ(form->configFileName(), work.Path("zwei.dat").toStdString());
    EXPECT_TRUE(QFile::exists(work.Path("zwei.dat")));
    EXPECT_TRUE(RelayIsOn(form->model(), 1)) << "Save switches nothing off";
    EXPECT_TRUE(form->adapter().PortOpen) << "Save ends with START";
    EXPECT_EQ(form->model().SecondsTimer[0].SecondCount, 0);

    form->Button8Click();
    form->answer = work.Path("zwei.dat");
    emit Find<QPushButton>("Button12")->clicked();  // Load
    EXPECT_FALSE(RelayIsOn(form->model(), 1)) << "Load runs RESET";
    EXPECT_EQ(form->adapter().PortSettings, "COM3:4800,N,8,1");
    EXPECT_TRUE(form->adapter().PortOpen);
    EXPECT_EQ(Find<QComboBox>("ComboBox19")->currentIndex(), 2);

    // Cancelling changes nothing.
    form->Button8Click();
    SetRelay(form->model(), 4);
    form->answer.clear();
    emit Find<QPushButton>("Button12")->clicked();
    EXPECT_TRUE(RelayIsOn(form->model(), 4));
    EXPECT_FALSE(form->adapter().PortOpen);
    EXPECT_TRUE(recorder.reports.isEmpty());
}

TEST_F(Form1Files, ACloseThatCannotWriteIsAbandonedAndLosesNothing)
{
    Start();
    form->setConfigFileName(work.Path("no/such/folder/x.dat").toStdString());
    EXPECT_FALSE(form->close());
    ASSERT_EQ(recorder.reports.size(), 1);
    EXPECT_EQ(recorder.reports.first(), "E/A-Fehler 103.");
    EXPECT_FALSE(QFile::exists(work.Path("swcf.ini"))) << "the settings file is not written either";

    form->setConfigFileName(work.Path("x.dat").toStdString());
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(QFile::exists(work.Path("x.dat")));
    EXPECT_EQ(tavoxa::LoadSettingsFile(work.Path("swcf.ini").toStdString()).ConfigFileName,
              work.Path("x.dat").toStdString()) << "only a backslash separates folders";
}

TEST_F(Form1Files, RemoteFromTheSettingsFileOpensTheServerAndLightsTheLamp)
{
    WriteBytes(work.Path("swcf.ini"), SettingsLines({"", "pw", "0", "", "", "", "", "", "", "", "", "1"}));
    Start();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox7")->isChecked());
    ASSERT_TRUE(form->server().IsOpen());

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, form->server().BoundPort());
    ASSERT_TRUE(WaitFor([&] { return client.bytesAvailable() >= 7; }));
    EXPECT_EQ(client.readAll(), "connect");
    EXPECT_TRUE(form->server().ClientConnectedLast());
    EXPECT_EQ(Find<QLabel>("Label58")->palette().color(QPalette::Window), QColor(0, 255, 0));

    client.write("Pass:pw");
    ASSERT_TRUE(WaitFor([&] { return client.bytesAvailable() >= 5; }));
    EXPECT_EQ(client.readAll(), "legal");
    client.write("5");
    EXPECT_TRUE(WaitFor([&] { return form->model().RelayBits == 5; }));

    client.disconnectFromHost();
    EXPECT_TRUE(WaitFor([&] { return !form->server().ClientConnectedLast(); }));
    EXPECT_EQ(Find<QLabel>("Label58")->palette().color(QPalette::Window), QColor(255, 0, 0));
}

TEST_F(Form1Files, APortInUseUnchecksRemoteWithoutAMessage)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    WriteBytes(work.Path("swcf.ini"),
               SettingsLines({"", "", std::to_string(other.serverPort()), "", "", "", "", "", "", "", "", "1"}));
    Start();
    EXPECT_FALSE(Find<QCheckBox>("CheckBox7")->isChecked());
    EXPECT_FALSE(form->server().IsOpen());
    EXPECT_TRUE(recorder.reports.isEmpty());
}

}  // namespace
}  // namespace tavoxa::test
