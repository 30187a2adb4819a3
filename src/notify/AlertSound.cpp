#include "notify/AlertSound.h"

#include <QtEndian>

#include <alsa/asoundlib.h>

#include <chrono>

namespace {

// Frames written per call: short enough that a new alert cuts in quickly.
constexpr snd_pcm_uframes_t kChunkFrames = 1024;
// Device latency asked for; also bounds how long the final drain takes.
constexpr unsigned kLatencyUs = 100000;

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

quint32 Read32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

quint16 Read16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

} // namespace

bool ParseWave(const QByteArray& wav, CWaveFormat& format, QByteArray& pcm)
{
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return false;
    bool haveFormat = false;
    qsizetype pos = 12;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        const quint32 size = Read32(wav.constData() + pos + 4);
        const qsizetype body = pos + 8;
        const qsizetype available = wav.size() - body;
        if (id == "fmt ") {
            if (size < 16 || available < 16)
                return false;
            const char* f = wav.constData() + body;
            if (Read16(f) != 1) // PCM only
                return false;
            format.channels = Read16(f + 2);
            format.sampleRate = static_cast<int>(Read32(f + 4));
            format.bitsPerSample = Read16(f + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return false;
            pcm = wav.mid(body, std::min<qsizetype>(size, available));
            const bool supported = (format.bitsPerSample == 16 || format.bitsPerSample == 8) && format.channels >= 1 &&
                                   format.channels <= 8 && format.sampleRate > 0;
            return supported;
        }
        // Chunks are padded to an even size.
        pos = body + qsizetype(size) + (size & 1);
    }
    return false;
}

CAlertSound::CAlertSound()
{
    snd_lib_error_set_handler(&QuietAlsaErrors);
    m_thread = std::thread([this] { Run(); });
}

CAlertSound::~CAlertSound()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_generation;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool CAlertSound::Play(const QByteArray& wav, const QString& device)
{
    CRequest request;
    if (!ParseWave(wav, request.format, request.pcm))
        return false;
    request.device = device.isEmpty() ? QByteArray("default") : device.toUtf8();
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(request);
        m_hasPending = true;
        ++m_generation;
    }
    m_changed.notify_all();
    return true;
}

void CAlertSound::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_hasPending = false;
        ++m_generation;
    }
    m_changed.notify_all();
}

bool CAlertSound::IsBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_hasPending || m_playing;
}

bool CAlertSound::WaitIdle(int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_hasPending && !m_playing; });
}

int CAlertSound::PlayedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_played;
}

int CAlertSound::FailedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

int CAlertSound::CutCount() const
{
    std::lock_guard lock(m_mutex);
    return m_cut;
}

void CAlertSound::SetChunkHook(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_chunkHook = std::move(hook);
}

bool CAlertSound::Cancelled(quint64 generation) const
{
    std::lock_guard lock(m_mutex);
    return m_quit || m_generation != generation;
}

void CAlertSound::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_hasPending; });
        if (m_quit)
            return;
        CRequest request = std::move(m_pending);
        m_hasPending = false;
        m_playing = true;
        const quint64 generation = m_generation;
        lock.unlock();
        const bool ok = PlayOne(request, generation);
        lock.lock();
        m_playing = false;
        ok ? ++m_played : ++m_failed;
        m_changed.notify_all();
    }
}

bool CAlertSound::PlayOne(const CRequest& request, quint64 generation)
{
    snd_pcm_t* pcm = nullptr;
    // Non-blocking open: a device held by another program must not stall us.
    if (snd_pcm_open(&pcm, request.device.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    snd_pcm_nonblock(pcm, 0);
    const snd_pcm_format_t format = request.format.bitsPerSample == 16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8;
    if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(request.format.channels),
                           static_cast<unsigned>(request.format.sampleRate), 1, kLatencyUs) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    const int frameBytes = request.format.channels * request.format.bitsPerSample / 8;
    const snd_pcm_uframes_t totalFrames = static_cast<snd_pcm_uframes_t>(request.pcm.size() / frameBytes);
    snd_pcm_uframes_t done = 0;
    bool cut = false;
    while (done < totalFrames) {
        if (Cancelled(generation)) {
            cut = true;
            break;
        }
        const snd_pcm_uframes_t count = std::min(kChunkFrames, totalFrames - done);
        snd_pcm_sframes_t written = snd_pcm_writei(pcm, request.pcm.constData() + done * frameBytes, count);
        if (written < 0)
            written = snd_pcm_recover(pcm, static_cast<int>(written), 1);
        if (written < 0) {
            snd_pcm_close(pcm);
            return false;
        }
        done += static_cast<snd_pcm_uframes_t>(written);
        std::function<void()> hook;
        {
            std::lock_guard lock(m_mutex);
            hook = m_chunkHook;
        }
        if (hook)
            hook();
    }
    if (cut) {
        snd_pcm_drop(pcm);
        std::lock_guard lock(m_mutex);
        ++m_cut;
    } else {
        snd_pcm_drain(pcm);
    }
    snd_pcm_close(pcm);
    return true;
}
