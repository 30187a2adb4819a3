// The alert chime: its format, playback through ALSA into a file sink (which
// records exactly the samples played), cutting, and a missing device.
#include "support/TestMain.h"

#include "controls/ui/Resources.h"
#include "notify/AlertSound.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <future>

namespace {

QByteArray Chime()
{
    InitMirelResources();
    QFile file(QStringLiteral(":/sounds/alert.wav"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString FileSink(const QString& path)
{
    return QStringLiteral("file:'%1',raw").arg(path);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray MakeWave(int channels, int rate, int bits, const QByteArray& pcm, bool extraChunk = false)
{
    QByteArray fmt(16, '\0');
    auto* f = reinterpret_cast<uchar*>(fmt.data());
    qToLittleEndian<quint16>(1, f);
    qToLittleEndian<quint16>(channels, f + 2);
    qToLittleEndian<quint32>(rate, f + 4);
    qToLittleEndian<quint32>(rate * channels * bits / 8, f + 8);
    qToLittleEndian<quint16>(channels * bits / 8, f + 12);
    qToLittleEndian<quint16>(bits, f + 14);
    auto chunk = [](const char* id, const QByteArray& body) {
        QByteArray c(id, 4);
        QByteArray size(4, '\0');
        qToLittleEndian<quint32>(body.size(), reinterpret_cast<uchar*>(size.data()));
        c += size + body;
        if (body.size() & 1)
            c += '\0';
        return c;
    };
    QByteArray body = QByteArray("WAVE") + chunk("fmt ", fmt);
    if (extraChunk)
        body += chunk("LIST", QByteArray("odd", 3));
    body += chunk("data", pcm);
    return chunk("RIFF", body);
}

} // namespace

TEST(AlertSound, ChimeIsStereo44100Hz16Bit)
{
    const QByteArray wav = Chime();
    ASSERT_FALSE(wav.isEmpty());
    CWaveFormat format;
    QByteArray pcm;
    ASSERT_TRUE(ParseWave(wav, format, pcm));
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sampleRate, 44100);
    EXPECT_EQ(format.bitsPerSample, 16);
    // About one second, and not silent.
    EXPECT_NEAR(pcm.size() / 4.0 / 44100.0, 1.0, 0.1);
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    int loud = 0;
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        loud += std::abs(samples[i]) > 3000 ? 1 : 0;
    EXPECT_GT(loud, 1000);
}

struct WaveCase
{
    const char* name;
    QByteArray wav;
    bool ok;
};

class ParseWaveTest : public ::testing::TestWithParam<WaveCase>
{
};

TEST_P(ParseWaveTest, Accepts)
{
    CWaveFormat format;
    QByteArray pcm;
    EXPECT_EQ(ParseWave(GetParam().wav, format, pcm), GetParam().ok) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseWaveTest,
    ::testing::Values(WaveCase{"plain 16-bit", MakeWave(2, 44100, 16, QByteArray(400, '\1')), true},
                      WaveCase{"8-bit mono", MakeWave(1, 8000, 8, QByteArray(10, '\1')), true},
                      WaveCase{"odd chunk before data", MakeWave(2, 44100, 16, QByteArray(8, '\1'), true), true},
                      WaveCase{"24-bit", MakeWave(2, 44100, 24, QByteArray(12, '\1')), false},
                      WaveCase{"not RIFF", QByteArray("RIFX0000WAVE"), false}, WaveCase{"empty", QByteArray(), false},
                      WaveCase{"truncated header", MakeWave(2, 44100, 16, QByteArray(4, '\1')).left(30), false}));

TEST(AlertSound, PlaysEverySampleToTheDevice)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.raw"));
    const QByteArray wav = Chime();
    CWaveFormat format;
    QByteArray pcm;
    ASSERT_TRUE(ParseWave(wav, format, pcm));

    CAlertSound sound;
    ASSERT_TRUE(sound.Play(wav, FileSink(out)));
    ASSERT_TRUE(sound.WaitIdle(10000));
    EXPECT_EQ(sound.PlayedCount(), 1);
    EXPECT_EQ(sound.FailedCount(), 0);
    EXPECT_EQ(ReadFile(out), pcm);
}

TEST(AlertSound, NewSoundReplacesTheOneStillPlaying)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.raw"));
    // A long first sound and a short, different second one, queued at once.
    const QByteArray longPcm(44100 * 4 * 3, '\x11');
    const QByteArray shortPcm(4096, '\x22');
    CAlertSound sound;
    // Hold the first sound after its first chunk until the second is queued.
    std::promise<void> started, queued;
    std::shared_future<void> go = queued.get_future().share();
    std::atomic<int> chunks{0};
    sound.SetChunkHook([&] {
        if (chunks++ == 0) {
            started.set_value();
            go.wait();
        }
    });
    ASSERT_TRUE(sound.Play(MakeWave(2, 44100, 16, longPcm), FileSink(out)));
    ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_TRUE(sound.Play(MakeWave(2, 44100, 16, shortPcm), FileSink(out)));
    queued.set_value();
    ASSERT_TRUE(sound.WaitIdle(10000));
    EXPECT_EQ(sound.CutCount(), 1);
    EXPECT_EQ(sound.PlayedCount(), 2);
    // The first stopped after one chunk of its 3 s; the second played whole.
    EXPECT_LT(chunks.load(), 10);
    EXPECT_EQ(ReadFile(out), shortPcm);
}

TEST(AlertSound, MissingDeviceIsNotAnError)
{
    CAlertSound sound;
    ASSERT_TRUE(sound.Play(Chime(), QStringLiteral("no_such_device_anywhere")));
    ASSERT_TRUE(sound.WaitIdle(10000));
    EXPECT_EQ(sound.FailedCount(), 1);
    EXPECT_EQ(sound.PlayedCount(), 0);
    // Still usable afterwards.
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.raw"));
    ASSERT_TRUE(sound.Play(Chime(), FileSink(out)));
    ASSERT_TRUE(sound.WaitIdle(10000));
    EXPECT_EQ(sound.PlayedCount(), 1);
    EXPECT_FALSE(sound.Play(QByteArray("junk"), FileSink(out)));
}
