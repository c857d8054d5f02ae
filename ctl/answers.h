// The server's answers as a byte stream: the greeting, the login verdicts and relay bytes.
//
// The server sends no framing of its own: an answer is whatever it wrote, so two answers may
// reach the client in one read ("connect193", "legal192") and one answer may come in pieces. A
// server that understands line ends ends each answer to a line-ended message with "\n". This
// reader takes the answers apart whichever way they arrive.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tavoxa {

// Bytes a server sent, as they may be printed: printable ASCII as it is, everything else (control
// characters that would move a terminal's cursor or change its colours, bytes past ASCII) as
// \xHH, and the backslash as \\.
QString EscapedServerBytes(const QByteArray& bytes);

struct Answer {
    enum Kind { Greeting, Legal, NoLegal, Number };
    Kind kind = Greeting;
    uint8_t value = 0;  // the relay byte of a Number
};

class AnswerStream {
public:
    enum class Status { Ready, NeedMore, Unreadable };

    void Feed(const QByteArray& bytes) { buffer_ += bytes; }

    // Takes the next whole answer into `answer`, skipping line ends before it. A number at the
    // very end of what has arrived may still grow ("1" of "193"); it is taken only when
    // `endIsFinal`, or when no further digit could keep it a relay byte.
    Status Next(Answer& answer, bool endIsFinal);

    // A line end waits in front of the next answer: the server ends its answers with one.
    bool StartsWithLineEnd() const;
    // Only digits are left, too few to know the number is whole.
    bool HoldsOpenNumber() const;
    // What is left, for a message about an answer that cannot be read.
    QByteArray Rest() const { return buffer_; }

private:
    QByteArray buffer_;
};

}  // namespace tavoxa
