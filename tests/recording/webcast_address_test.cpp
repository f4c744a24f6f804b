#include "recorder/platform/spawn_launcher.h"
#include "recorder/recording/webcast_address.h"
#include "recorder/recording/webcast_opener.h"
#include "tests/eventually.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kelvo {
namespace {

struct AddressCase {
    std::string text;
    std::string opened;  // what the opener gets; empty: nothing
    std::string refusal; // a part of the message; empty: none
};

const std::string kLong = "http://radio.example.com/" + std::string(40000, 'x');

const AddressCase kAddresses[] = {
    {"http://radio.example.com/live.m3u", "http://radio.example.com/live.m3u", ""},
    {"  HTTP://Radio.Example.com/Live \r\n", "http://Radio.Example.com/Live", ""},
    {"HttpS://radio.example.com:8443/a?b=c#d", "https://radio.example.com:8443/a?b=c#d", ""},
    {"mms://media.example.com/stream", "mms://media.example.com/stream", ""},
    {"mmsh://media.example.com/stream", "mmsh://media.example.com/stream", ""},
    {"rtsp://10.0.0.2:554/radio", "rtsp://10.0.0.2:554/radio", ""},
    {"rtmp://live.example.com/app", "rtmp://live.example.com/app", ""},
    {"radio.example.com/live", "http://radio.example.com/live", ""},
    {"radio.example.com:8000/live", "http://radio.example.com:8000/live", ""},
    {"localhost:8000", "http://localhost:8000", ""},
    {"[::1]:8000/live", "http://[::1]:8000/live", ""},
    // A name that looks like a file is still only ever asked of the web.
    {"evil.desktop", "http://evil.desktop", ""},
    {"", "", ""},
    {"   ", "", ""},
    {"file:///tmp/x/evil.desktop", "",
     "\"file:///tmp/x/evil.desktop\" is not opened: it is a file"},
    {"FILE:/etc/passwd", "", "it is a file on this computer"},
    {"/tmp/x/evil.desktop", "", "it is a file on this computer"},
    {"./play.sh", "", "it is a file on this computer"},
    {"~/play.sh", "", "it is a file on this computer"},
    {"x/evil.desktop", "", "neither a network address nor a host name"},
    {"play.sh", "http://play.sh", ""}, // a host to the web, never a file here
    {"javascript:alert(1)", "", "\"javascript:\" is not a network address"},
    {"data:text/html,<b>x</b>", "", "angle bracket"},
    {"data:text/plain;base64,eA==", "", "\"data:\" is not a network address"},
    {"smb://server/share/x.desktop", "", "\"smb:\" is not a network address"},
    {"http:radio.example.com", "", "it names no host"},
    {"http:///etc/passwd", "", "it names no host"},
    {"--help", "", "it begins with \"-\""},
    {"-http://radio.example.com", "", "it begins with \"-\""},
    {"http://radio.example.com/live stream", "", "it holds a blank"},
    {"http://radio.example.com/\r\nExec=touch /tmp/pwned", "", "control character"},
    {"http://radio.example.com/\"x", "", "quote"},
    {"http://radio.example.com/'x", "", "quote"},
    {kLong, "", "it is longer than 2048 characters"},
    // Under the limit as typed, over it once "http://" is in front.
    {"radio.example.com/" + std::string(2026, 'x'), "", "it is longer than 2048 characters"},
    {"radio.example.com/" + std::string(2023, 'x'),
     "http://radio.example.com/" + std::string(2023, 'x'), ""},
};

TEST(WebcastAddress, OnlyNetworkAddressesAreOpenedAndEveryOtherIsRefusedSayingWhy) {
    for (const AddressCase& c : kAddresses) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const CheckedAddress checked = checkWebcastAddress(c.text);
        EXPECT_EQ(checked.openable, c.opened);
        if (c.refusal.empty()) {
            EXPECT_EQ(checked.refusal, "");
        } else {
            EXPECT_NE(checked.refusal.find(c.refusal), std::string::npos) << checked.refusal;
            EXPECT_NE(checked.refusal.find("the show records without it"), std::string::npos);
        }
    }
    // The message names the address in one readable line, however long or broken it is.
    const std::string longRefusal = checkWebcastAddress(kLong).refusal;
    EXPECT_LT(longRefusal.size(), 400u);
    EXPECT_NE(longRefusal.find("\"http://radio.example.com/xxx"), std::string::npos);
    EXPECT_NE(checkWebcastAddress("http://a.example/\r\nx").refusal.find("a.example/\\r\\nx"),
              std::string::npos);
}

// The real spawner and an xdg-open of ours first on PATH, which logs every argument it got.
TEST(WebcastAddress, NothingButAllowedAddressesEverReachesTheOpener) {
    QTemporaryDir bin;
    const QString log = bin.path() + "/opened.txt";
    {
        QFile script(bin.path() + "/xdg-open");
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        // One write per start, so that openers running side by side never mix their lines.
        script.write("#!/bin/sh\nline=\nfor a in \"$@\"; do line=\"$line[$a]\"; done\n"
                     "printf '%s\\n' \"$line\" >>'" +
                     QFile::encodeName(log) + "'\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin.path().toStdString() + ":" + path).c_str(), 1);
    SpawnLauncher launcher;
    QStringList expected;
    for (const AddressCase& c : kAddresses) {
        const int pid = openWebcastAddress(launcher, c.text);
        EXPECT_EQ(pid > 0, !c.opened.empty()) << c.text.substr(0, 60);
        if (pid > 0) {
            expected << "[" + QString::fromStdString(c.opened) + "]";
        }
    }
    setenv("PATH", path.c_str(), 1);
    const auto lines = [&] {
        QFile in(log);
        return in.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList{};
    };
    EVENTUALLY_EQ_WITHIN(lines().size(), expected.size(), 10000);
    QStringList seen = lines();
    seen.sort();
    expected.sort();
    EXPECT_EQ(seen, expected);
}

} // namespace
} // namespace kelvo
