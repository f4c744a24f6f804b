#include "recorder/app/next_start_command.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kelvo {
namespace {

void write(const QString& path, const std::string& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
}

std::string record(const char* weekdays) {
    return std::string("\"8:00:00 PM\",\"9:00:00 PM\",\"Windows Wave (WAV)\",\"44.1 kHz (CD)\","
                       "\"64 Kb/sec\",\"2\",0,0,\"Line In\",50,\"\",\"\",") +
           weekdays + "\r\n";
}

TEST(NextStartCommand, PrintsTheEarliestStartOfTheShowsTheScheduleHoldsInTheirZones) {
    const QTemporaryDir data;
    QDir(data.path()).mkpath("configurations");
    QDir(data.path()).mkpath("show-settings");
    write(data.filePath("configurations/Default"), record("0,0,0,0,0,0,0"));
    write(data.filePath("configurations/Jazz"), record("1,1,1,1,1,1,1"));
    write(data.filePath("show-settings/Jazz"), "timeZone=America/New_York\n");

    for (const bool everyShow : {false, true}) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        std::FILE* err = std::fopen("/dev/null", "w");
        const int status = printNextStart(data.path(), everyShow, out, err);
        std::fclose(out);
        std::fclose(err);
        const std::string printed(text, size);
        std::free(text);
        if (!everyShow) {
            EXPECT_EQ(status, 1) << "Default never starts: " << printed;
            continue;
        }
        ASSERT_EQ(status, 0);
        const long long seconds = std::stoll(printed);
        const QDateTime there =
            QDateTime::fromSecsSinceEpoch(seconds, QTimeZone("America/New_York"));
        EXPECT_EQ(there.time(), QTime(20, 0)) << printed;
        EXPECT_GT(seconds, QDateTime::currentSecsSinceEpoch());
        EXPECT_LE(seconds, QDateTime::currentSecsSinceEpoch() + 86400);
        const QString local =
            QDateTime::fromSecsSinceEpoch(seconds).toString("yyyy-MM-dd HH:mm:ss");
        EXPECT_EQ(printed, std::to_string(seconds) + " " + local.toStdString() + " Jazz\n");
    }
}

} // namespace
} // namespace kelvo
