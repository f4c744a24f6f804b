#include "recorder/recording/recording_report.h"

#include "recorder/platform/atomic_file.h"
#include "recorder/recording/recording_controller.h"
#include "recorder/recording/recording_names.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace kelvo {

namespace {

template <typename Enum> struct Named {
    Enum value;
    const char* name;
};

constexpr Named<RecordingStart> kStarts[] = {{RecordingStart::BySchedule, "schedule"},
                                             {RecordingStart::ByHand, "hand"}};
constexpr Named<RecordingEnd> kEnds[] = {{RecordingEnd::ByHand, "Stop"},
                                         {RecordingEnd::StopTime, "stop time"},
                                         {RecordingEnd::Exit, "exit"},
                                         {RecordingEnd::WriteError, "write error"}};
constexpr Named<EncoderState> kEncoderStates[] = {
    {EncoderState::None, "none"},       {EncoderState::Waiting, "waiting"},
    {EncoderState::Running, "running"}, {EncoderState::StillRunning, "still running"},
    {EncoderState::Made, "made"},       {EncoderState::Failed, "failed"}};
constexpr Named<RecordingEventKind> kEventKinds[] = {
    {RecordingEventKind::StartedLate, "started late"},
    {RecordingEventKind::SourceMissing, "source missing"},
    {RecordingEventKind::SourceBack, "source back"},
    {RecordingEventKind::DeviceLost, "device lost"},
    {RecordingEventKind::DeviceBack, "device back"},
    {RecordingEventKind::Silent, "silent"},
    {RecordingEventKind::SoundBack, "sound back"},
    {RecordingEventKind::FileGone, "file gone"},
    {RecordingEventKind::FileBack, "file back"}};

template <typename Enum, std::size_t N> QString nameOf(const Named<Enum> (&table)[N], Enum value) {
    for (const auto& entry : table) {
        if (entry.value == value) {
            return QString::fromLatin1(entry.name);
        }
    }
    return {};
}

// An unknown name (a newer program's, or an edited file) keeps the default.
template <typename Enum, std::size_t N>
Enum valueOf(const Named<Enum> (&table)[N], const QJsonValue& name, Enum otherwise) {
    for (const auto& entry : table) {
        if (name.toString() == QLatin1String(entry.name)) {
            return entry.value;
        }
    }
    return otherwise;
}

// With the offset from UTC, so the hour an occurrence recorded across a clock change reads
// the same anywhere.
QJsonValue timeValue(const QDateTime& at) {
    return at.isValid() ? QJsonValue(at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate))
                        : QJsonValue();
}

QDateTime timeOf(const QJsonValue& value) {
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

QJsonValue optionalValue(const std::optional<double>& value) {
    return value ? QJsonValue(std::round(*value * 10) / 10) : QJsonValue();
}

std::optional<double> optionalDouble(const QJsonValue& value) {
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

std::int64_t integerOf(const QJsonValue& value) {
    const double number = value.toDouble();
    // A count no recording reaches is nonsense, not an overflow to be.
    return std::isfinite(number) && std::fabs(number) < 1e15 ? static_cast<std::int64_t>(number)
                                                             : 0;
}

std::optional<double> dbfsOf(double magnitude) {
    if (magnitude <= 0) {
        return std::nullopt;
    }
    return 20 * std::log10(magnitude / 32768.0);
}

// "40 s", "4 min": rounded to what a reader needs.
QString durationText(double seconds) {
    if (seconds < 10 && std::round(seconds) != seconds) {
        return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
    }
    if (seconds < 60) {
        return QStringLiteral("%1 s").arg(std::llround(seconds));
    }
    return QStringLiteral("%1 min").arg(std::llround(seconds / 60));
}

void addSources(const RecordingSession& session, RecordingReport& report) {
    const QString name =
        session.sourceRecorded.isEmpty() ? session.sourceName() : session.sourceRecorded;
    std::optional<ReportSource> open = ReportSource{name, session.startedAt, {}};
    for (const RecordingEvent& event : session.events) {
        switch (event.kind) {
        case RecordingEventKind::SourceMissing:
        case RecordingEventKind::DeviceLost:
            if (open) {
                open->to = event.at;
                report.sourcesRecorded.push_back(*std::exchange(open, std::nullopt));
            }
            break;
        case RecordingEventKind::SourceBack:
        case RecordingEventKind::DeviceBack:
            if (!open) {
                open = ReportSource{name, event.at, {}};
            }
            break;
        default:
            break;
        }
    }
    if (open) {
        open->to = session.endedAt;
        report.sourcesRecorded.push_back(*open);
    }
}

void addSilences(const RecordingSession& session, const std::optional<KelvoStatus>& status,
                 RecordingReport& report) {
    std::optional<QDateTime> silentFrom;
    const auto close = [&](const QDateTime& at) {
        report.silences.push_back({*silentFrom, std::max<std::int64_t>(silentFrom->secsTo(at), 0)});
        silentFrom.reset();
    };
    for (const RecordingEvent& event : session.events) {
        if (event.kind == RecordingEventKind::Silent && !silentFrom) {
            // Told once the silence had lasted `seconds`: it began that long before.
            silentFrom = event.at.addSecs(-event.seconds);
        } else if (event.kind == RecordingEventKind::SoundBack && silentFrom) {
            close(event.at);
        }
    }
    // Dead air up to the stop counts even when it was never told (a stop within the minute
    // after it became dead air, or no one looking for it).
    const std::int64_t running =
        status && session.sampleRate > 0
            ? static_cast<std::int64_t>(status->silentRunFrames /
                                        static_cast<std::uint64_t>(session.sampleRate))
            : 0;
    if (!silentFrom && running >= kDeadAirSeconds) {
        silentFrom = session.endedAt.addSecs(-running);
    }
    if (silentFrom) {
        close(session.endedAt);
    }
}

std::int64_t sourceMissingSeconds(const RecordingReport& report) {
    std::int64_t seconds = 0;
    std::optional<QDateTime> missingFrom;
    for (const ReportEvent& event : report.events) {
        if (event.kind == QLatin1String("source missing") && !missingFrom) {
            missingFrom = event.at;
        } else if (event.kind == QLatin1String("source back") && missingFrom) {
            seconds += std::max<std::int64_t>(missingFrom->secsTo(event.at), 0);
            missingFrom.reset();
        }
    }
    if (missingFrom && report.endedAt.isValid()) {
        seconds += std::max<std::int64_t>(missingFrom->secsTo(report.endedAt), 0);
    }
    return seconds;
}

QJsonObject partObject(const ReportPart& part) {
    QJsonObject encoder{{"result", nameOf(kEncoderStates, part.encoder)}};
    if (part.exitCode) {
        encoder["exitCode"] = *part.exitCode;
    }
    if (!part.encoderText.isEmpty()) {
        encoder["text"] = part.encoderText;
    }
    return {{"file", part.file}, {"encoder", encoder}};
}

} // namespace

RecordingReport reportOf(const RecordingSession& session,
                         const std::optional<KelvoStatus>& status) {
    RecordingReport report;
    report.show = session.showName();
    report.file = session.fileName;
    report.sourceAsked = session.sourceName();
    report.startedBy = session.startedBy;
    report.startedAt = session.startedAt;
    report.lateSeconds = session.late.seconds + session.lateSeconds;
    report.lateWhy = session.late.notice;
    report.endedBy = session.endedBy;
    report.endedAt = session.endedAt;
    report.endText = session.endedBy == RecordingEnd::WriteError
                         ? RecordingController::writeErrorText(session.writeError)
                         : nameOf(kEnds, session.endedBy);
    report.secondsAsked = session.secondsAsked;
    for (const RecordingEvent& event : session.events) {
        if (event.kind == RecordingEventKind::StartedLate && report.lateWhy.isEmpty()) {
            report.lateWhy = event.text;
        }
        report.events.push_back({event.at, nameOf(kEventKinds, event.kind), event.text});
    }
    const int rate = std::max(session.sampleRate, 0);
    const std::uint64_t frameBytes = session.channels == 2 ? 4 : 1;
    if (status && rate > 0) {
        report.secondsRecorded =
            static_cast<std::int64_t>(status->bytesWritten / (frameBytes * rate));
        report.gaps = status->gaps;
        report.filledSeconds = static_cast<double>(status->framesFilled) / rate;
        report.silentSeconds = static_cast<double>(status->framesSilent) / rate;
        report.peakDbfs = dbfsOf(status->highestPeak);
        if (status->samples > 0) {
            report.rmsDbfs = dbfsOf(std::sqrt(static_cast<double>(status->sumOfSquares) /
                                              static_cast<double>(status->samples)));
        }
    } else {
        // An engine that cannot tell: the clock's word for the length, nothing of the rest.
        report.secondsRecorded =
            std::max<std::int64_t>(session.startedAt.secsTo(session.endedAt), 0);
    }
    addSources(session, report);
    addSilences(session, status, report);
    report.stream = session.streamAddress;
    if (!report.stream.isEmpty()) {
        const QString wav = session.filePath;
        const qsizetype dot = wav.lastIndexOf(QLatin1Char('.'));
        const qsizetype slash = wav.lastIndexOf(QLatin1Char('/'));
        report.titles =
            cueSheetTitles((dot > slash ? wav.left(dot) : wav) + QStringLiteral(".cue"));
    }
    for (int part = 1; part <= std::max(session.parts, 1); ++part) {
        report.parts.push_back(
            {recordingPartName(session.fileName, part), EncoderState::None, {}, {}});
    }
    return report;
}

QString verdictFindings(const RecordingReport& report) {
    QStringList findings;
    if (report.endedBy == RecordingEnd::WriteError) {
        findings << QStringLiteral("stopped: ") + report.endText;
    }
    if (report.lateSeconds > 0) {
        findings << QStringLiteral("started %1 late").arg(durationText(report.lateSeconds));
    }
    if (const std::int64_t missing = sourceMissingSeconds(report); missing > 0) {
        findings
            << QStringLiteral("%1 missing for %2").arg(report.sourceAsked, durationText(missing));
    }
    std::int64_t silent = 0;
    for (const ReportSilence& silence : report.silences) {
        silent += silence.seconds;
    }
    if (!report.silences.empty()) {
        findings << QStringLiteral("%1 silent").arg(durationText(silent));
    }
    if (report.gaps > 0) {
        // A gap too short to fill a frame is still a gap.
        QString gaps =
            report.gaps == 1 ? QStringLiteral("1 gap") : QStringLiteral("%1 gaps").arg(report.gaps);
        if (report.filledSeconds > 0) {
            gaps += QStringLiteral(" of ") + durationText(report.filledSeconds);
        }
        findings << gaps;
    }
    const auto failed =
        std::count_if(report.parts.begin(), report.parts.end(),
                      [](const ReportPart& part) { return part.encoder == EncoderState::Failed; });
    if (failed > 0) {
        findings << (failed == static_cast<std::ptrdiff_t>(report.parts.size())
                         ? QStringLiteral("no MP3")
                         : QStringLiteral("%1 of %2 MP3s not made")
                               .arg(failed)
                               .arg(report.parts.size()));
    }
    return findings.isEmpty() ? QStringLiteral("all well") : findings.join(QStringLiteral(", "));
}

bool allWell(const RecordingReport& report) {
    return verdictFindings(report) == QLatin1String("all well");
}

QString verdictText(const RecordingReport& report) {
    return RecordingController::lengthText(report.secondsRecorded) + QStringLiteral(", ") +
           verdictFindings(report);
}

std::vector<ReportTitle> cueSheetTitles(const QString& path) {
    std::vector<ReportTitle> titles;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return titles;
    }
    const QList<QByteArray> lines = file.read(kMaxReportBytes).split('\n');
    int part = 0;
    std::optional<QString> title;
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("FILE ")) {
            ++part;
        } else if (line.startsWith("TITLE \"") && line.endsWith('"') && line.size() >= 8) {
            title = QString::fromUtf8(line.mid(7, line.size() - 8));
        } else if (line.startsWith("INDEX 01 ") && title) {
            // mm:ss:ff, in CD frames of 1/75 s.
            const QList<QByteArray> at = line.mid(9).split(':');
            bool ok[3] = {};
            if (at.size() == 3) {
                const int minutes = at[0].toInt(&ok[0]), secs = at[1].toInt(&ok[1]),
                          frames = at[2].toInt(&ok[2]);
                if (ok[0] && ok[1] && ok[2] && minutes >= 0 && secs >= 0 && frames >= 0) {
                    titles.push_back({std::max(part, 1), minutes * 60 + secs + frames / 75.0,
                                      *std::exchange(title, std::nullopt)});
                }
            }
        }
    }
    return titles;
}

QByteArray reportJson(const RecordingReport& report) {
    QJsonArray sources;
    for (const ReportSource& source : report.sourcesRecorded) {
        sources.append(QJsonObject{
            {"name", source.name}, {"from", timeValue(source.from)}, {"to", timeValue(source.to)}});
    }
    QJsonArray silences;
    for (const ReportSilence& silence : report.silences) {
        silences.append(QJsonObject{{"from", timeValue(silence.from)},
                                    {"seconds", static_cast<double>(silence.seconds)}});
    }
    QJsonArray parts;
    for (const ReportPart& part : report.parts) {
        parts.append(partObject(part));
    }
    QJsonArray events;
    for (const ReportEvent& event : report.events) {
        events.append(
            QJsonObject{{"at", timeValue(event.at)}, {"kind", event.kind}, {"text", event.text}});
    }
    QJsonArray titles;
    for (const ReportTitle& title : report.titles) {
        titles.append(QJsonObject{{"part", title.part},
                                  {"seconds", std::round(title.seconds * 100) / 100},
                                  {"title", title.title}});
    }
    QJsonObject root{
        {"format", kReportFormat},
        {"show", report.show},
        {"file", report.file},
        {"verdict", verdictFindings(report)},
        {"source", QJsonObject{{"asked", report.sourceAsked}, {"recorded", sources}}},
        {"start", QJsonObject{{"at", timeValue(report.startedAt)},
                              {"by", nameOf(kStarts, report.startedBy)},
                              {"lateSeconds", static_cast<double>(report.lateSeconds)},
                              {"why", report.lateWhy}}},
        {"end", QJsonObject{{"at", timeValue(report.endedAt)},
                            {"by", nameOf(kEnds, report.endedBy)},
                            {"text", report.endText}}},
        {"seconds", QJsonObject{{"asked", static_cast<double>(report.secondsAsked)},
                                {"recorded", static_cast<double>(report.secondsRecorded)}}},
        {"gaps", QJsonObject{{"count", static_cast<double>(report.gaps)},
                             {"filledSeconds", std::round(report.filledSeconds * 10) / 10}}},
        {"silence", QJsonObject{{"totalSeconds", std::round(report.silentSeconds * 10) / 10},
                                {"stretches", silences}}},
        {"level", QJsonObject{{"peakDbfs", optionalValue(report.peakDbfs)},
                              {"rmsDbfs", optionalValue(report.rmsDbfs)}}},
        {"parts", parts},
        {"events", events},
    };
    if (!report.stream.isEmpty()) {
        root.insert(QStringLiteral("stream"),
                    QJsonObject{{"address", report.stream}, {"titles", titles}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<RecordingReport> reportFromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root["format"].toInt() != kReportFormat) {
        return std::nullopt;
    }
    RecordingReport report;
    report.show = root["show"].toString();
    report.file = root["file"].toString();
    const QJsonObject source = root["source"].toObject();
    report.sourceAsked = source["asked"].toString();
    for (const QJsonValue& value : source["recorded"].toArray()) {
        const QJsonObject entry = value.toObject();
        report.sourcesRecorded.push_back(
            {entry["name"].toString(), timeOf(entry["from"]), timeOf(entry["to"])});
    }
    const QJsonObject start = root["start"].toObject();
    report.startedAt = timeOf(start["at"]);
    report.startedBy = valueOf(kStarts, start["by"], RecordingStart::ByHand);
    report.lateSeconds = std::max<std::int64_t>(integerOf(start["lateSeconds"]), 0);
    report.lateWhy = start["why"].toString();
    const QJsonObject end = root["end"].toObject();
    report.endedAt = timeOf(end["at"]);
    report.endedBy = valueOf(kEnds, end["by"], RecordingEnd::ByHand);
    report.endText = end["text"].toString();
    const QJsonObject seconds = root["seconds"].toObject();
    report.secondsAsked = std::max<std::int64_t>(integerOf(seconds["asked"]), 0);
    report.secondsRecorded = std::max<std::int64_t>(integerOf(seconds["recorded"]), 0);
    const QJsonObject gaps = root["gaps"].toObject();
    report.gaps = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(integerOf(gaps["count"]), 0, UINT32_MAX));
    report.filledSeconds = std::max(gaps["filledSeconds"].toDouble(), 0.0);
    const QJsonObject silence = root["silence"].toObject();
    report.silentSeconds = std::max(silence["totalSeconds"].toDouble(), 0.0);
    for (const QJsonValue& value : silence["stretches"].toArray()) {
        const QJsonObject entry = value.toObject();
        report.silences.push_back(
            {timeOf(entry["from"]), std::max<std::int64_t>(integerOf(entry["seconds"]), 0)});
    }
    const QJsonObject level = root["level"].toObject();
    report.peakDbfs = optionalDouble(level["peakDbfs"]);
    report.rmsDbfs = optionalDouble(level["rmsDbfs"]);
    for (const QJsonValue& value : root["parts"].toArray()) {
        const QJsonObject entry = value.toObject();
        const QJsonObject encoder = entry["encoder"].toObject();
        ReportPart part{entry["file"].toString(),
                        valueOf(kEncoderStates, encoder["result"], EncoderState::None),
                        {},
                        encoder["text"].toString()};
        if (encoder["exitCode"].isDouble()) {
            part.exitCode = encoder["exitCode"].toInt();
        }
        report.parts.push_back(std::move(part));
    }
    for (const QJsonValue& value : root["events"].toArray()) {
        const QJsonObject entry = value.toObject();
        report.events.push_back(
            {timeOf(entry["at"]), entry["kind"].toString(), entry["text"].toString()});
    }
    const QJsonObject stream = root["stream"].toObject();
    report.stream = stream["address"].toString();
    for (const QJsonValue& value : stream["titles"].toArray()) {
        const QJsonObject entry = value.toObject();
        report.titles.push_back({std::clamp(entry["part"].toInt(1), 1, 1 << 20),
                                 std::max(entry["seconds"].toDouble(), 0.0),
                                 entry["title"].toString()});
    }
    return report;
}

QString reportPathOf(const QString& wavPath) {
    return wavPath + QStringLiteral(".json");
}

QString writeReport(const QString& path, const RecordingReport& report) {
    const QByteArray json = reportJson(report);
    const auto failure = replaceFileAtomically(QFile::encodeName(path).toStdString(),
                                               std::string_view(json.constData(), json.size()));
    return failure ? QString::fromStdString(*failure) : QString();
}

std::optional<RecordingReport> readReport(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxReportBytes) {
        return std::nullopt;
    }
    return reportFromJson(file.read(kMaxReportBytes));
}

} // namespace kelvo
