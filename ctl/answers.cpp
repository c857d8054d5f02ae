#include "ctl/answers.h"

#include <array>
#include <string_view>

#include "remote/protocol.h"

namespace tavoxa {

QString EscapedServerBytes(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}
namespace {

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct Word {
    std::string_view text;
    Answer::Kind kind;
};
// "nolegal" before "legal": a refusal must never be read as the acceptance inside it.
constexpr std::array<Word, 3> kWords{{
    {kLoginRefused, Answer::NoLegal},
    {kLoginAccepted, Answer::Legal},
    {kGreeting, Answer::Greeting},
}};

}  // namespace

bool AnswerStream::StartsWithLineEnd() const
{
    return !buffer_.isEmpty() && IsLineEnd(buffer_.front());
}

bool AnswerStream::HoldsOpenNumber() const
{
    qsizetype start = 0;
    while (start < buffer_.size() && IsLineEnd(buffer_[start]))
        ++start;
    if (start == buffer_.size())
        return false;
    for (qsizetype i = start; i < buffer_.size(); ++i) {
        if (!IsDigit(buffer_[i]))
            return false;
    }
    return true;
}

AnswerStream::Status AnswerStream::Next(Answer& answer, bool endIsFinal)
{
    qsizetype start = 0;
    while (start < buffer_.size() && IsLineEnd(buffer_[start]))
        ++start;
    buffer_.remove(0, start);
    if (buffer_.isEmpty())
        return Status::NeedMore;

    if (IsDigit(buffer_.front())) {
        qsizetype end = 0;
        int value = 0;
        while (end < buffer_.size() && IsDigit(buffer_[end])) {
            value = value * 10 + (buffer_[end] - '0');
            ++end;
            if (end > 3 || value > 255)
                return Status::Unreadable;
        }
        // Another digit would make it more than three digits or more than 255.
        const bool cannotGrow = end == 3 || value * 10 > 255;
        if (end == buffer_.size() && !endIsFinal && !cannotGrow)
            return Status::NeedMore;
        answer = Answer{Answer::Number, static_cast<uint8_t>(value)};
        buffer_.remove(0, end);
        return Status::Ready;
    }

    const std::string_view rest(buffer_.constData(), static_cast<size_t>(buffer_.size()));
    bool couldStillMatch = false;
    for (const Word& word : kWords) {
        if (rest.substr(0, word.text.size()) == word.text) {
            answer = Answer{word.kind, 0};
            buffer_.remove(0, static_cast<qsizetype>(word.text.size()));
            return Status::Ready;
        }
        if (rest.size() < word.text.size() && word.text.substr(0, rest.size()) == rest)
            couldStillMatch = true;
    }
    return couldStillMatch ? Status::NeedMore : Status::Unreadable;
}

}  // namespace tavoxa
