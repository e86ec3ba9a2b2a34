#include "station/EventLog.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

const QLocale kBrazil(QLocale::Portuguese, QLocale::Brazil);

} // namespace

TEST(EventLog, HeaderOnceThenEntriesSeparatedByDashes)
{
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    QDateTime when(QDate(2026, 12, 10), QTime(14, 3, 5));
    TEventLog log(
        folder, [&] { return when; }, kBrazil);

    EXPECT_EQ(log.WriteLog(QStringLiteral("Foi executado o Encoder"), QStringLiteral("Processo normal"),
                  QStringLiteral("VerificaEncoder")),
        0);
    when = QDateTime(QDate(2026, 12, 11), QTime(0, 0));
    EXPECT_EQ(log.WriteLog(QString(), QStringLiteral("EEncoderError"), QString()), 0);

    const QByteArray expected = "http://www.varekradio.net.br - Varek R\xe1"
                                "dio Zoveva\r\n"
                                "Fone: (47) 3030-4700 - E-mail: suporte@varekradio.net.br\r\n"
                                "Rua das Antenas, 1250 - Sala 3 - Centro\r\n"
                                "CEP 89010-100 - Blumenau - SC\r\n"
        + QByteArray(62, '=') + "\r\n\r\n"
        + "Data/Hora............: 10/12/2026 14:03:05\r\n"
          "A\xe7\xe3o.................: Processo normal\r\n"
          "Descri\xe7\xe3o............: Foi executado o Encoder\r\n"
          "Processo.............: VerificaEncoder\r\n"
          "\r\n"
        + QByteArray(62, '-') + "\r\n\r\n"
        + "Data/Hora............: 11/12/2026\r\n"
          "A\xe7\xe3o.................: EEncoderError\r\n"
          "Descri\xe7\xe3o............: \r\n"
          "Processo.............: \r\n"
          "\r\n";
    EXPECT_EQ(ReadAll(log.Path()), expected);
    EXPECT_EQ(ReadAll(log.Path()).mid(expected.indexOf("A\xe7"), 4).toHex(' '), QByteArray("41 e7 e3 6f"));
}

TEST(EventLog, TextOutsideTheCodePageBecomesAQuestionMark)
{
    QTemporaryDir dir;
    TEventLog log(
        dir.path().toStdString(), [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); }, kBrazil);
    log.WriteLog(QStringLiteral("\u0416 \u20ac"), QStringLiteral("A"), QStringLiteral("P"));
    EXPECT_TRUE(ReadAll(log.Path()).contains("Descri\xe7\xe3o............: ? \x80\r\n"));
}

TEST(EventLog, BlanksOutsideTheCodePageBecomeSpaces)
{
    // Some locales' time formats put a narrow no-break space before "AM"; the code page has no byte
    // for it, nor for the other blanks, so each would read "?". The no-break space has its byte.
    QTemporaryDir dir;
    TEventLog log(
        dir.path().toStdString(), [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); }, kBrazil);
    log.WriteLog(QStringLiteral("5:06:07\u202fAM|\u2009|\u2007|\u3000|\u00a0|\t"), QStringLiteral("A\u202fB"),
        QStringLiteral("P"));
    const QByteArray written = ReadAll(log.Path());
    EXPECT_TRUE(written.contains("Descri\xe7\xe3o............: 5:06:07 AM| | | |\xa0|\t\r\n"))
        << written.constData();
    EXPECT_TRUE(written.contains("A\xe7\xe3o.................: A B\r\n"));
    EXPECT_FALSE(written.contains('?'));
}

TEST(EventLog, AnUnwritableFolderLosesTheEntryQuietly)
{
    QTemporaryDir dir;
    TEventLog log(std::filesystem::path(dir.path().toStdString()) / "missing", {}, kBrazil);
    EXPECT_NE(log.WriteLog(QStringLiteral("d"), QStringLiteral("a"), QStringLiteral("p")), 0);
    EXPECT_FALSE(std::filesystem::exists(log.Path()));
}

TEST(EventLog, DateAndTimeFollowTheLocale)
{
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(TEventLog::DateTimeText(when, kBrazil), QStringLiteral("04/03/2026 05:06:07"));
    // Plain spaces also where the locale data has a narrow no-break space before "AM" (newer Qt).
    EXPECT_EQ(TEventLog::DateTimeText(when, QLocale(QLocale::English, QLocale::UnitedStates)),
        QStringLiteral("3/4/26 5:06:07 AM"));
}
