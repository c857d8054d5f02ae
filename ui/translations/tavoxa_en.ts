<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de">
<context>
    <name>tavoxa::BoardWindow</name>
    <message>
        <source>Board</source>
        <translation>Board</translation>
    </message>
    <message>
        <source>K1 closed</source>
        <translation>K1 closed</translation>
    </message>
    <message>
        <source>K2 closed</source>
        <translation>K2 closed</translation>
    </message>
    <message>
        <source>Board powered</source>
        <translation>Board powered</translation>
    </message>
</context>
<context>
    <name>tavoxa::ErrorReport</name>
    <message>
        <source>Unbekannter Fehler</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>tavoxa::IoError</name>
    <message>
        <source>Datei nicht gefunden</source>
        <translation>File not found</translation>
    </message>
    <message>
        <source>Ungültiger Dateiname</source>
        <translation>Invalid file name</translation>
    </message>
    <message>
        <source>Zu viele geöffnete Dateien</source>
        <translation>Too many open files</translation>
    </message>
    <message>
        <source>Dateizugriff verweigert</source>
        <translation>File access denied</translation>
    </message>
    <message>
        <source>Versuch hinter dem Dateiende zu lesen</source>
        <translation>Read past the end of the file</translation>
    </message>
    <message>
        <source>Zu wenig Speicherplatz</source>
        <translation>Not enough disk space</translation>
    </message>
    <message>
        <source>Ungültige numerische Eingabe</source>
        <translation>Invalid numeric input</translation>
    </message>
    <message>
        <source>E/A-Fehler %1</source>
        <translation>I/O error %1</translation>
    </message>
</context>
<context>
    <name>tavoxa::Model</name>
    <message>
        <source>Toggle</source>
        <translation>Toggle</translation>
    </message>
    <message>
        <source>Timer</source>
        <translation>Timer</translation>
    </message>
    <message>
        <source>IF  K1</source>
        <translation>IF  K1</translation>
    </message>
    <message>
        <source>IF  K2</source>
        <translation>IF  K2</translation>
    </message>
    <message>
        <source>IF  K1 AND K2</source>
        <translation>IF  K1 AND K2</translation>
    </message>
    <message>
        <source>IF  K1 OR K2</source>
        <translation>IF  K1 OR K2</translation>
    </message>
    <message>
        <source>IF  K1 NOR K2</source>
        <translation>IF  K1 NOR K2</translation>
    </message>
    <message>
        <source>IF  K1 XOR K2</source>
        <translation>IF  K1 XOR K2</translation>
    </message>
    <message>
        <source>Sec. - Timer</source>
        <translation>Sec. - Timer</translation>
    </message>
    <message>
        <source>Random</source>
        <translation>Random</translation>
    </message>
    <message>
        <source>Uhr - Steuerung</source>
        <translation>Slave clock</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>So</source>
        <translation>Sun</translation>
    </message>
    <message>
        <source>Mo</source>
        <translation>Mon</translation>
    </message>
    <message>
        <source>Di</source>
        <translation>Tue</translation>
    </message>
    <message>
        <source>Mi</source>
        <translation>Wed</translation>
    </message>
    <message>
        <source>Do</source>
        <translation>Thu</translation>
    </message>
    <message>
        <source>Fr</source>
        <translation>Fri</translation>
    </message>
    <message>
        <source>Sa</source>
        <translation>Sat</translation>
    </message>
    <message>
        <source>Mo-Fr</source>
        <translation>Mon-Fri</translation>
    </message>
    <message>
        <source>Sa-So</source>
        <translation>Sat-Sun</translation>
    </message>
    <message>
        <source>Mo-So</source>
        <translation>Mon-Sun</translation>
    </message>
</context>
<context>
    <name>tavoxa::RelayController</name>
    <message>
        <source>%1: ends after %2 of %3 values</source>
        <translation>%1: ends after %2 of %3 values</translation>
    </message>
</context>
<context>
    <name>tavoxa::TForm1</name>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>RESET</source>
        <translation>RESET</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Key</source>
        <translation>Key</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Prog</source>
        <translation>Prog</translation>
    </message>
    <message>
        <source>Day</source>
        <translation>Day</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>End</source>
        <translation>End</translation>
    </message>
    <message>
        <source>Repeat</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>start after</source>
        <translation>start after</translation>
    </message>
    <message>
        <source>sec</source>
        <translation>sec</translation>
    </message>
    <message>
        <source>end after</source>
        <translation>end after</translation>
    </message>
    <message>
        <source>max.</source>
        <translation>max.</translation>
    </message>
    <message>
        <source>min</source>
        <translation>min</translation>
    </message>
    <message>
        <source>Input Channel</source>
        <translation>Input Channel</translation>
    </message>
    <message>
        <source>I2C Chip</source>
        <translation>I2C Chip</translation>
    </message>
    <message>
        <source>Remote</source>
        <translation>Remote</translation>
    </message>
    <message>
        <source>COM Port</source>
        <translation>COM Port</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>COM %1   Open</source>
        <translation>COM %1   Open</translation>
    </message>
    <message>
        <source>COM %1   Close</source>
        <translation>COM %1   Close</translation>
    </message>
    <message>
        <source>Adapter  connected</source>
        <translation>Adapter  connected</translation>
    </message>
    <message>
        <source>Adapter  not connected</source>
        <translation>Adapter  not connected</translation>
    </message>
    <message>
        <source>alle (*)</source>
        <translation>all (*)</translation>
    </message>
</context>
<context>
    <name>tavoxa::TForm2</name>
    <message>
        <source>Help Tavoxa</source>
        <translation>Help Tavoxa</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>tavoxa::TForm3</name>
    <message>
        <source>IP Remote Config</source>
        <translation>IP Remote Config</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Port </source>
        <translation>Port </translation>
    </message>
    <message>
        <source>Kennwort</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>Remote switching stays locked
until a password is set.</source>
        <translation>Remote switching stays locked
until a password is set.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot be stored: port and password take only characters of one byte (Latin-1), such as &quot;Ä&quot; or &quot;ß&quot;.</source>
        <translation>&quot;%1&quot; cannot be stored: port and password take only characters of one byte (Latin-1), such as &quot;Ä&quot; or &quot;ß&quot;.</translation>
    </message>
</context>
</TS>
