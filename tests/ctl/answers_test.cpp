// Answers taken apart from the byte stream however the reads cut or glue them.
#include "ctl/answers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoxa {
namespace {

// Feeds the pieces one by one and writes each answer taken as a word: C, L, N or the number;
// "?" for more needed at the end, "!" for unreadable.
std::string Read(const std::vector<QByteArray>& pieces, bool endIsFinal = false)
{
    AnswerStream stream;
    std::string taken;
    for (const QByteArray& piece : pieces) {
        stream.Feed(piece);
        for (;;) {
            Answer answer;
            const AnswerStream::Status status = stream.Next(answer, endIsFinal);
            if (status == AnswerStream::Status::Unreadable)
                return taken + "!";
            if (status == AnswerStream::Status::NeedMore)
                break;
            taken += answer.kind == Answer::Greeting  ? "C "
                     : answer.kind == Answer::Legal   ? "L "
                     : answer.kind == Answer::NoLegal ? "N "
                                                      : std::to_string(answer.value) + " ";
        }
    }
    return taken + "?";
}

TEST(AnswerStream, GluedSplitAndLineEndedAnswers)
{
    EXPECT_EQ(Read({"connect193"}), "C 193 ?");
    EXPECT_EQ(Read({"connectlegal192"}), "C L 192 ?");
    EXPECT_EQ(Read({"connectnolegal"}), "C N ?");  // the refusal is not read as "legal"
    EXPECT_EQ(Read({"connect", "legal\n", "5\n", "\r\n"}), "C L 5 ?");
    EXPECT_EQ(Read({"con", "nect", "no", "le", "gal"}), "C N ?");
    EXPECT_EQ(Read({"1", "9", "3"}), "193 ?");  // "1" and "19" may still grow
    EXPECT_EQ(Read({"26"}), "26 ?");            // a third digit would pass 255
    EXPECT_EQ(Read({"0"}), "?");
    EXPECT_EQ(Read({"0"}, true), "0 ?");
}

TEST(AnswerStream, TextNoServerSendsIsUnreadable)
{
    EXPECT_EQ(Read({"connectHTTP/1.1"}), "C !");
    EXPECT_EQ(Read({"256"}), "!");
    EXPECT_EQ(Read({"1000"}), "!");
    EXPECT_EQ(Read({"legalx"}), "L !");
}

// Whatever a server sends, what the client prints holds no control character.
TEST(EscapedServerBytes, ControlCharactersAndBytesPastAsciiAreShownAsEscapes)
{
    EXPECT_EQ(EscapedServerBytes(QByteArray("ok\x1b[2J\r\n\x7f\xff\\x", 12)).toStdString(),
              "ok\\x1b[2J\\x0d\\x0a\\x7f\\xff\\\\x");
}

}  // namespace
}  // namespace tavoxa
