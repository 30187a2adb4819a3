#pragma once
// Plays the alert sound (a RIFF/WAVE file held in memory) through ALSA
// without making the caller wait: one player thread of its own takes the
// latest request, and a new request cuts the sound still playing. A missing
// or busy sound device is not an error: the sound is skipped. Any thread may
// call Play; owned by the main window.
#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct CWaveFormat
{
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
};

// Finds the format and data chunks; false unless it is uncompressed PCM of 8 or 16 bits.
bool ParseWave(const QByteArray& wav, CWaveFormat& format, QByteArray& pcm);

class CAlertSound
{
public:
    CAlertSound();
    ~CAlertSound();
    CAlertSound(const CAlertSound&) = delete;
    CAlertSound& operator=(const CAlertSound&) = delete;

    // Queues the sound for the device (an ALSA PCM name) and returns at once;
    // false when the data is no playable WAVE.
    bool Play(const QByteArray& wav, const QString& device);
    // Cuts the sound in progress.
    void Stop();
    // True while a sound is queued or playing.
    bool IsBusy() const;
    // Waits until nothing is queued or playing (tests); true when idle in time.
    bool WaitIdle(int timeoutMs) const;
    // Sounds that reached the device / that could not be played (no device...).
    int PlayedCount() const;
    int FailedCount() const;
    // Sounds cut off by a newer one (or by Stop) before their end.
    int CutCount() const;
    // Called on the player thread after each chunk written (tests hold playback there).
    void SetChunkHook(std::function<void()> hook);

private:
    struct CRequest
    {
        CWaveFormat format;
        QByteArray pcm;
        QByteArray device;
    };

    void Run();
    // Plays one request; false when the device could not be used.
    bool PlayOne(const CRequest& request, quint64 generation);
    bool Cancelled(quint64 generation) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    // Not a one-shot: one player for the object's life, woken per sound, so a new sound cuts the last.
    std::thread m_thread;
    CRequest m_pending;
    bool m_hasPending = false;
    bool m_playing = false;
    bool m_quit = false;
    quint64 m_generation = 0;
    int m_played = 0;
    int m_failed = 0;
    int m_cut = 0;
    std::function<void()> m_chunkHook;
};
