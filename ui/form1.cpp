#include "ui/form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimeEdit>

#include "engine/hardware.h"
#include "engine/schedule.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/selector.h"
#include "ui/timepicker.h"

namespace tavoxa {
namespace {

const QColor kMoneyGreen(0xC0, 0xDC, 0xC0);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kBarBlue(0x00, 0x00, 0xFF);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kLampGreen(0x00, 0xFF, 0x00);
const QColor kLampRed(0xFF, 0x00, 0x00);

constexpr int kClientWidth = 665;
constexpr int kClientHeight = 408;
constexpr int kTopStripHeight = 32;

// Columns of the relay rows, in Panel1's coordinates.
constexpr int kStatusX = 8, kStatusW = 74;
constexpr int kKeyX = 88, kKeyW = 24;
constexpr int kModeX = 118, kModeW = 122;
constexpr int kProgX = 246, kProgW = 42;
constexpr int kDayX = 294, kDayW = 70;
constexpr int kDateX = 370, kDateW = 98;
constexpr int kStartX = 474, kStartW = 86;
constexpr int kEndX = 566, kEndW = 86;
constexpr int kHeaderY = 6;
constexpr int kRowY = 28, kRowPitch = 30, kRowH = 24;
// The seconds and random panels lie over the Prog..End columns.
constexpr int kModePanelX = kProgX - 2;
constexpr int kModePanelW = kEndX + kEndW + 2 - kModePanelX;
constexpr int kModePanelH = kRowH + 4;
constexpr int kLowerY = kRowY + 6 * kRowPitch + 14;

int RowY(int relay)
{
    return kRowY + relay * kRowPitch;
}

QString Numbered(const char* prefix, int n)
{
    return QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(n);
}

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    if (role == QPalette::Window) {
        // Buttons, check boxes included, fill their background from the Button role.
        palette.setColor(widget->backgroundRole(), colour);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

// Lamps are recoloured from the 20 ms tick; an unchanged colour costs no repaint.
void SetLampColour(QLabel* lamp, const QColor& colour)
{
    if (lamp->palette().color(QPalette::Window) != colour)
        Paint(lamp, QPalette::Window, colour);
}

void SetTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QLabel* Caption(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

QFrame* MakePanel(QWidget* parent, const QString& name, const QRect& geometry, const QColor& colour)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    Paint(panel, QPalette::Window, colour);
    return panel;
}

Selector* MakeSelector(QWidget* parent, const QString& name, const QStringList& entries, int position,
                       const QRect& geometry)
{
    auto* selector = new Selector(entries, parent);
    selector->setObjectName(name);
    selector->SetPosition(position);
    selector->setGeometry(geometry);
    Paint(selector, QPalette::Base, kAqua);
    return selector;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    Paint(edit, QPalette::Base, kAqua);
    return edit;
}

QTimeEdit* MakeTimePicker(QWidget* parent, int number, const QTime& time, const QRect& geometry)
{
    auto* picker = new TimePicker(time, parent);
    picker->setObjectName(Numbered("DateTimePicker", number));
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    picker->setGeometry(geometry);
    Paint(picker, QPalette::Base, kAqua);
    return picker;
}

// The locale's short date format, with the year in four digits so a picked date is never
// mistaken for one of another century.
QString ShortDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

// The model's names of modes and days as the window shows them, translated.
QString ModelName(const char* name)
{
    return QCoreApplication::translate("tavoxa::Model", name);
}

QStringList Entries(const char* const* names, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << ModelName(names[i]);
    return list;
}

}  // namespace

TForm1::TForm1(RelayController& core, FileDialogs* dialogs, QWidget* parent) : QWidget(parent), core_(core)
{
    BuildWindow();
    if (!dialogs) {
        ownDialogs_ = std::make_unique<WindowFileDialogs>(this);
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
    ConnectHandlers();
    ConnectController();
    RefreshView();
    ShowAdapterSettings();
    ShowNames();
    ShowRemoteBox(core_.remoteSwitch().remoteOn());
    ShowPortControls(core_.portControlsLocked());
    // At creation every port control is usable, STOP too (it does nothing while stopped); only a
    // STOP greys STOP out, and an open port enables it again.
    Button8_->setEnabled(true);
}

TForm1::~TForm1() = default;

void TForm1::BuildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tavoxa V4.1b"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);

    BuildCommandButtons();

    auto* panel1 =
        MakePanel(this, QStringLiteral("Panel1"),
                  QRect(0, kTopStripHeight, kClientWidth, kClientHeight - kTopStripHeight), kMoneyGreen);
    panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel1->setLineWidth(2);
    BuildRelayRows(panel1);
    auto* bar =
        MakePanel(panel1, QStringLiteral("Panel3"), QRect(4, kLowerY - 10, kClientWidth - 8, 4), kBarBlue);
    bar->setFrameStyle(QFrame::NoFrame);
    BuildLowerPart(panel1);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm1::BuildCommandButtons()
{
    struct Command {
        QPushButton** button;
        int number;
        const char* caption;
        int width;
    };
    const Command commands[] = {{&Button13_, 13, QT_TR_NOOP("IP"), 44},
                                {&Button12_, 12, QT_TR_NOOP("Load"), 60},
                                {&Button11_, 11, QT_TR_NOOP("Save"), 60},
                                {&Button9_, 9, QT_TR_NOOP("RESET"), 64},
                                {&Button10_, 10, QT_TR_NOOP("Help"), 60}};
    int x = kClientWidth - 4;
    for (const Command& c : commands)
        x -= c.width + 4;
    for (const Command& c : commands) {
        x += 4;
        auto* button = new QPushButton(tr(c.caption), this);
        button->setObjectName(Numbered("Button", c.number));
        button->setGeometry(x, 4, c.width, kTopStripHeight - 8);
        *c.button = button;
        x += c.width;
    }
}

void TForm1::BuildRelayRows(QWidget* panel)
{
    QFont headerFont = font();
    headerFont.setBold(true);
    headerFont.setPixelSize(12);
    struct Header {
        const char* text;
        int x, width;
    };
    const Header headers[] = {
        {QT_TR_NOOP("Status"), kStatusX, kStatusW}, {QT_TR_NOOP("Key"), kKeyX - 2, kKeyW + 6},
        {QT_TR_NOOP("Mode"), kModeX, kModeW},       {QT_TR_NOOP("Prog"), kProgX, kProgW},
        {QT_TR_NOOP("Day"), kDayX, kDayW},          {QT_TR_NOOP("Date"), kDateX, kDateW},
        {QT_TR_NOOP("Start"), kStartX, kStartW},    {QT_TR_NOOP("End"), kEndX, kEndW}};
    // Label12 heads the lamp column; the other captions of the window follow from Label14 on.
    int captionNumber = 12;
    auto nextCaption = [&captionNumber] {
        const int n = captionNumber;
        captionNumber = captionNumber == 12 ? 14 : captionNumber + 1;
        return Numbered("Label", n);
    };
    for (const Header& h : headers) {
        QLabel* label = Caption(panel, nextCaption(), tr(h.text), QRect(h.x, kHeaderY, h.width, 18));
        label->setFont(headerFont);
    }

    QFont lampFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    lampFont.setBold(true);
    lampFont.setPixelSize(14);
    const QTime now = QTime(0, 0).addMSecs(MillisecondOfDay(core_.ticker().clock().Now()));
    const QDate today = [this] {
        const LocalDateTime t = core_.ticker().clock().Now();
        return QDate(t.year, t.month, t.day);
    }();
    const QStringList programs{"1", "2", "3", "4", "5", "6"};
    const QStringList windows{"1", "2", "3"};
    const QStringList days = Entries(kDayCodeNames.data(), static_cast<int>(kDayCodeNames.size()));

    for (int r = 0; r < kRelayCount; ++r) {
        const int n = r + 1;
        const int y = RowY(r);

        auto* lamp = Caption(panel, Numbered("Label", n),
                             r < 5 ? QStringLiteral(" REL %1 ").arg(n) : QStringLiteral("REL 6"),
                             QRect(kStatusX, y, kStatusW, kRowH));
        lamp->setFont(lampFont);
        lamp->setAlignment(Qt::AlignCenter);
        Paint(lamp, QPalette::Window, kLampRed);
        relayLamp_[r] = lamp;

        auto* toggle = new QPushButton(QStringLiteral("T"), panel);
        toggle->setObjectName(Numbered("Button", n));
        toggle->setGeometry(kKeyX, y, kKeyW, kRowH);
        toggleButton_[r] = toggle;

        // Only relay 6 drives a slave clock.
        modeSelector_[r] =
            MakeSelector(panel, Numbered("ComboBox", n), Entries(kModeNames.data(), ModeCount(r)), 0,
                         QRect(kModeX, y, kModeW, kRowH));
        programSelector_[r] =
            MakeSelector(panel, Numbered("ComboBox", 6 + n), programs, 0, QRect(kProgX, y, kProgW, kRowH));
        daySelector_[r] = MakeSelector(panel, Numbered("ComboBox", 12 + n), days, DayEveryDay,
                                       QRect(kDayX, y, kDayW, kRowH));

        auto* date = new QDateEdit(today, panel);
        date->setObjectName(Numbered("DateTimePicker", n));
        date->setDisplayFormat(ShortDateFormat());
        date->setCalendarPopup(true);
        date->setDateRange(QDate(100, 1, 1), QDate(9999, 12, 31));
        date->setGeometry(kDateX, y, kDateW, kRowH);
        Paint(date, QPalette::Base, kAqua);
        datePicker_[r] = date;
        startPicker_[r] = MakeTimePicker(panel, 6 + n, now, QRect(kStartX, y, kStartW, kRowH));
        endPicker_[r] = MakeTimePicker(panel, 12 + n, now, QRect(kEndX, y, kEndW, kRowH));
    }

    // The mode panels come last so that they lie over the program columns.
    for (int r = 0; r < kRelayCount; ++r) {
        const int n = r + 1;
        const QRect place(kModePanelX, RowY(r) - 2, kModePanelW, kModePanelH);
        QFrame* seconds = MakePanel(panel, Numbered("Panel", 3 + n), place, kMoneyGreen);
        secondsPanel_[r] = seconds;
        const int cy = 2;
        auto* repeat = new QCheckBox(tr("Repeat"), seconds);
        repeat->setObjectName(Numbered("CheckBox", n));
        repeat->setGeometry(4, cy, 66, kRowH);
        repeatBox_[r] = repeat;
        Caption(seconds, nextCaption(), tr("start after"), QRect(76, cy, 62, kRowH));
        startEdit_[r] =
            MakeEdit(seconds, Numbered("Edit", 2 * n - 1), QStringLiteral("0"), QRect(140, cy, 56, kRowH));
        Caption(seconds, nextCaption(), tr("sec"), QRect(200, cy, 24, kRowH));
        Caption(seconds, nextCaption(), tr("end after"), QRect(236, cy, 56, kRowH));
        endEdit_[r] =
            MakeEdit(seconds, Numbered("Edit", 2 * n), QStringLiteral("0"), QRect(294, cy, 56, kRowH));
        Caption(seconds, nextCaption(), tr("sec"), QRect(354, cy, 24, kRowH));

        // Relays 2..6 carry the random panel inside their seconds panel, covering it; relay 1
        // has the two side by side in the same place.
        QFrame* random = r == 0 ? MakePanel(panel, QStringLiteral("Panel10"), place, kMoneyGreen)
                                : MakePanel(seconds, Numbered("Panel", 9 + n),
                                            QRect(0, 0, kModePanelW, kModePanelH), kMoneyGreen);
        randomPanel_[r] = random;
        const int left = kProgX - kModePanelX;
        windowSelector_[r] =
            MakeSelector(random, Numbered("ComboBox", 19 + n), windows, 0, QRect(left, cy, kProgW, kRowH));
        Caption(random, nextCaption(), tr("max."), QRect(left + kProgW + 8, cy, 30, kRowH));
        maxEdit_[r] = MakeEdit(random, Numbered("Edit", 12 + n), QStringLiteral("10"),
                               QRect(left + kProgW + 40, cy, 56, kRowH));
        Caption(random, nextCaption(), tr("min"), QRect(left + kProgW + 100, cy, 26, kRowH));
        windowStartPicker_[r] =
            MakeTimePicker(random, 17 + 2 * n, now, QRect(kStartX - kModePanelX, cy, kStartW, kRowH));
        windowEndPicker_[r] =
            MakeTimePicker(random, 18 + 2 * n, now, QRect(kEndX - kModePanelX, cy, kEndW, kRowH));
    }
    secondsPanel_[0]->hide();
}

void TForm1::BuildLowerPart(QWidget* panel)
{
    const int y = kLowerY;
    const int height = kClientHeight - kTopStripHeight - y - 8;
    QFont lampFont = font();
    lampFont.setBold(true);
    lampFont.setPixelSize(14);

    auto* inputs = new QGroupBox(tr("Input Channel"), panel);
    inputs->setObjectName(QStringLiteral("GroupBox1"));
    inputs->setGeometry(8, y, 150, height);
    // The inputs show the active-caption colour until they have read stable once.
    const QColor unknown = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    Label7_ = Caption(inputs, QStringLiteral("Label7"), QStringLiteral("K1"), QRect(12, 30, 58, 52));
    Label8_ = Caption(inputs, QStringLiteral("Label8"), QStringLiteral("K2"), QRect(80, 30, 58, 52));
    for (QLabel* lamp : {Label7_, Label8_}) {
        lamp->setFont(lampFont);
        lamp->setAlignment(Qt::AlignCenter);
        Paint(lamp, QPalette::Window, unknown);
    }

    RadioGroup1_ = new QGroupBox(tr("I2C Chip"), panel);
    RadioGroup1_->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1_->setGeometry(166, y, 130, 78);
    auto* chipGroup = new QButtonGroup(RadioGroup1_);
    for (int i = 0; i < 2; ++i) {
        auto* item = new QRadioButton(QString::fromLatin1(kChipNames[static_cast<size_t>(i)]), RadioGroup1_);
        item->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        item->setGeometry(12, 24 + i * 24, 110, 20);
        chipGroup->addButton(item, i);
        chipItem_[i] = item;
    }
    chipItem_[0]->setChecked(true);

    CheckBox7_ = new QCheckBox(tr("Remote"), panel);
    CheckBox7_->setObjectName(QStringLiteral("CheckBox7"));
    CheckBox7_->setGeometry(166, y + 90, 80, 22);
    Paint(CheckBox7_, QPalette::Window, kYellow);
    Label58_ = Caption(panel, QStringLiteral("Label58"), QString(), QRect(256, y + 93, 16, 16));
    Label58_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Paint(Label58_, QPalette::Window, kLampRed);

    auto* com = new QGroupBox(tr("COM Port"), panel);
    com->setObjectName(QStringLiteral("GroupBox2"));
    com->setGeometry(304, y, 130, height);
    QStringList ports;
    for (int n = 1; n <= 8; ++n)
        ports << QStringLiteral("COM  %1").arg(n);
    ComboBox19_ = MakeSelector(com, QStringLiteral("ComboBox19"), ports, 0, QRect(10, 24, 110, 24));
    ComboBox19_->setToolTip(
        QStringLiteral("COM1 - COM4: /dev/ttyS0 - /dev/ttyS3\nCOM5 - COM8: /dev/ttyUSB0 - /dev/ttyUSB3"));
    Button7_ = new QPushButton(tr("START"), com);
    Button7_->setObjectName(QStringLiteral("Button7"));
    Button7_->setGeometry(10, 58, 110, 26);
    Button8_ = new QPushButton(tr("STOP"), com);
    Button8_->setObjectName(QStringLiteral("Button8"));
    Button8_->setGeometry(10, 90, 110, 26);

    QFrame* status = MakePanel(panel, QStringLiteral("Panel2"), QRect(442, y, 210, height), kLime);
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QFont statusFont = font();
    statusFont.setBold(true);
    statusFont.setPixelSize(12);
    const char* lines[] = {"Label10", "Label11", "Label9", "Label13"};
    QLabel** targets[] = {&Label10_, &Label11_, &Label9_, &Label13_};
    for (int i = 0; i < 4; ++i) {
        QLabel* label = Caption(status, QString::fromLatin1(lines[i]), QStringLiteral("-"),
                                QRect(10, 8 + i * ((height - 16) / 4), 190, 22));
        label->setFont(statusFont);
        *targets[i] = label;
    }
}

void TForm1::ConnectHandlers()
{
    // Selectors answer the user only (UserChanged), pickers are blocked while the view refresh
    // sets them; edits and the Repeat boxes run their handlers on every change, so a refresh
    // writes their (equal) values back.
    for (int r = 0; r < kRelayCount; ++r) {
        connect(toggleButton_[r], &QPushButton::clicked, this, [this, r] {
            core_.Switch({{r, RelayAction::Toggle}}, SwitchCause{CauseKind::TButton, 0, {}});
        });
        connect(modeSelector_[r], &Selector::UserChanged, this, [this, r] { ModeSelectorChange(r); });
        connect(programSelector_[r], &Selector::UserChanged, this, [this, r] { ProgramSelectorChange(r); });
        connect(daySelector_[r], &Selector::UserChanged, this, [this, r] { DaySelectorChange(r); });
        connect(datePicker_[r], &QDateEdit::dateChanged, this, [this, r] { DatePickerChange(r); });
        connect(startPicker_[r], &QTimeEdit::timeChanged, this, [this, r] { StartPickerChange(r); });
        connect(endPicker_[r], &QTimeEdit::timeChanged, this, [this, r] { EndPickerChange(r); });
        connect(repeatBox_[r], &QCheckBox::toggled, this,
                [this, r](bool on) { Edit(r, RelayField::Repeat, on ? 1 : 0); });
        connect(startEdit_[r], &QLineEdit::textChanged, this, [this, r] { SecondsEditChange(r, false); });
        connect(endEdit_[r], &QLineEdit::textChanged, this, [this, r] { SecondsEditChange(r, true); });
        connect(windowSelector_[r], &Selector::UserChanged, this, [this, r] { WindowSelectorChange(r); });
        connect(maxEdit_[r], &QLineEdit::textChanged, this, [this, r] { MaxEditChange(r); });
        connect(windowStartPicker_[r], &QTimeEdit::timeChanged, this,
                [this, r] { WindowPickerChange(r, false); });
        connect(windowEndPicker_[r], &QTimeEdit::timeChanged, this,
                [this, r] { WindowPickerChange(r, true); });
    }

    connect(Button7_, &QPushButton::clicked, this, [this] { core_.Start(); });
    connect(Button8_, &QPushButton::clicked, this, [this] { core_.Stop(); });
    connect(Button9_, &QPushButton::clicked, this, [this] { core_.Reset(); });
    connect(Button10_, &QPushButton::clicked, this, [this] {
        if (help_)
            help_->exec();
    });
    connect(Button11_, &QPushButton::clicked, this, &TForm1::SaveClick);
    connect(Button12_, &QPushButton::clicked, this, &TForm1::LoadClick);
    connect(Button13_, &QPushButton::clicked, this, [this] {
        if (form3_)
            form3_->exec();
    });
    connect(ComboBox19_, &Selector::UserChanged, this, [this] {
        core_.SelectPort(ComboBox19_->Position(), ChipItemOfAddress(core_.adapter().ChipAddress));
    });
    // Only the user's choice of a chip item reaches the controller; the view refresh sets the
    // item silently.
    for (int i = 0; i < 2; ++i) {
        connect(chipItem_[i], &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked)
                core_.SelectPort(core_.adapter().ComNumber - 1, i);
        });
    }
    connect(CheckBox7_, &QCheckBox::clicked, this,
            [this](bool on) { ShowRemoteBox(core_.remoteSwitch().SetRemote(on)); });
}

void TForm1::ConnectController()
{
    connect(&core_, &RelayController::SettingsReplaced, this, [this] {
        RefreshView();
        ShowAdapterSettings();
    });
    connect(&core_, &RelayController::SettingsFileRead, this, [this] {
        ShowNames();
        ShowRemoteBox(core_.remoteSwitch().remoteOn());
    });
    connect(&core_, &RelayController::RemoteOnChanged, this, &TForm1::ShowRemoteBox);
    connect(&core_, &RelayController::PortControlsLockChanged, this, &TForm1::ShowPortControls);
    connect(&core_, &RelayController::BusFactsChanged, this, &TForm1::ShowBusFacts);
    connect(&core_, &RelayController::RelaysWritten, this, &TForm1::ShowRelayLamps);
    connect(&core_, &RelayController::InputsRead, this, &TForm1::ShowInputLamps);
    connect(&core_, &RelayController::ClientConnectedChanged, this, &TForm1::ShowRemoteLamp);
    connect(&core_, &RelayController::SecondTicked, this, &TForm1::ShowClockSample);
}

QLabel* TForm1::Lamp(int index) const
{
    if (index >= 0 && index < kRelayCount)
        return relayLamp_[index];
    if (index == 6)
        return Label7_;
    if (index == 7)
        return Label8_;
    return nullptr;
}

void TForm1::ShowNames()
{
    for (int i = 0; i < 8; ++i)
        Lamp(i)->setText(core_.files().Name(i));
}

void TForm1::ShowRemoteBox(bool on)
{
    const QSignalBlocker blocker(CheckBox7_);
    CheckBox7_->setChecked(on);
}

void TForm1::ShowRemoteLamp(bool connected)
{
    SetLampColour(Label58_, connected ? kLampGreen : kLampRed);
}

void TForm1::ShowDevice(const QString& path)
{
    auto* edit = new QLineEdit(path, ComboBox19_->parentWidget());
    edit->setObjectName(QStringLiteral("DeviceEdit"));
    edit->setGeometry(ComboBox19_->geometry());
    edit->setReadOnly(true);
    edit->setCursorPosition(0);
    edit->setToolTip(path);
    edit->show();
    ComboBox19_->hide();
    if (auto* box = qobject_cast<QGroupBox*>(ComboBox19_->parentWidget()))
        box->setTitle(QStringLiteral("Device"));
}

void TForm1::ShowAdapterSettings()
{
    ComboBox19_->SetPosition(core_.adapter().ComNumber - 1);
    const QSignalBlocker first(chipItem_[0]);
    const QSignalBlocker second(chipItem_[1]);
    chipItem_[ChipItemOfAddress(core_.adapter().ChipAddress)]->setChecked(true);
}

void TForm1::ShowPortControls(bool locked)
{
    // Port, chip type and configuration files change only while the exchange is stopped.
    for (QWidget* control :
         std::initializer_list<QWidget*>{RadioGroup1_, ComboBox19_, Button7_, Button11_, Button12_})
        control->setEnabled(!locked);
    Button8_->setEnabled(locked);
}

void TForm1::ShowBusFacts(const BusFacts& facts)
{
    SetTextIfChanged(Label9_,
                     (facts.PortOpen ? tr("COM %1   Open") : tr("COM %1   Close")).arg(facts.ComNumber));
    SetTextIfChanged(Label13_, facts.Connected ? tr("Adapter  connected") : tr("Adapter  not connected"));
}

void TForm1::ShowRelayLamps(uint8_t relayBits)
{
    for (int r = 0; r < kRelayCount; ++r)
        SetLampColour(relayLamp_[r], (relayBits >> r) & 1 ? kLampGreen : kLampRed);
}

void TForm1::ShowInputLamps(bool k1Closed, bool k2Closed)
{
    SetLampColour(Label7_, k1Closed ? kLampGreen : kLampRed);
    SetLampColour(Label8_, k2Closed ? kLampGreen : kLampRed);
}

void TForm1::ShowClockSample()
{
    const Model& model = core_.model();
    const LocalDateTime date = FromDateTime(model.NowDate);
    Label10_->setText(ModelName(model.DayName.c_str()) + QStringLiteral(" ,  ") +
                      QLocale().toString(QDate(date.year, date.month, date.day), QLocale::ShortFormat));
    Label11_->setText(QString::fromStdString(TimeText(model.NowTime)));
    ShowNextSwitchings();
}

void TForm1::ShowNextSwitchings()
{
    // Each relay lamp names its next switching in its tool tip, as the ticks will make it.
    constexpr int kLookAheadDays = 7;
    const LocalDateTime now = core_.ticker().clock().Now();
    for (int r = 0; r < kRelayCount; ++r) {
        const NextSwitch next = NextSwitching(core_.model(), r, now, kLookAheadDays);
        const QString text = QString::fromStdString(NextSwitchingText(next, kLookAheadDays));
        if (relayLamp_[r]->toolTip() != text)
            relayLamp_[r]->setToolTip(text);
    }
}

void TForm1::LoadClick()
{
    const QString path = dialogs_->AskOpenName();
    if (!path.isEmpty())
        core_.Load(path.toStdString());
}

void TForm1::SaveClick()
{
    const QString path = dialogs_->AskSaveName();
    if (!path.isEmpty())
        core_.Save(path.toStdString());
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Nothing is lost when the save fails: the window stays and the user can save elsewhere.
    if (core_.Close())
        event->accept();
    else
        event->ignore();
}

bool TForm1::event(QEvent* event)
{
    // The IP dialog shows the stored texts again whenever the main window is activated.
    if (event->type() == QEvent::WindowActivate && form3_)
        form3_->Refill();
    return QWidget::event(event);
}

WindowFileDialogs::WindowFileDialogs(QWidget* parent)
{
    // Both dialogs open in the current directory, since they are given no directory of their own.
    const QStringList filters{QStringLiteral("*.dat (*.dat)"), TForm1::tr("alle (*)")};
    open_ = new QFileDialog(parent);
    open_->setObjectName(QStringLiteral("OpenDialog1"));
    open_->setAcceptMode(QFileDialog::AcceptOpen);
    open_->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
    open_->setNameFilters(filters);
    save_ = new QFileDialog(parent);
    save_->setObjectName(QStringLiteral("SaveDialog1"));
    save_->setAcceptMode(QFileDialog::AcceptSave);
    save_->setFileMode(QFileDialog::AnyFile);
    save_->setNameFilters(filters);
    save_->setDefaultSuffix(QStringLiteral("dat"));
    save_->setOption(QFileDialog::DontConfirmOverwrite);
}

QString WindowFileDialogs::AskOpenName()
{
    return Ask(open_);
}

QString WindowFileDialogs::AskSaveName()
{
    return Ask(save_);
}

QString WindowFileDialogs::Ask(QFileDialog* dialog)
{
    dialog->setDirectory(QDir::currentPath());
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(QFileInfo(dialog->selectedFiles().first()).absoluteFilePath());
}

}  // namespace tavoxa
