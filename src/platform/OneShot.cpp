#include "platform/OneShot.h"

#include "platform/AbortScope.h"
#include "platform/Workers.h"

#include <QThread>

#include <exception>

namespace {

class COneShotThread : public QThread
{
public:
    COneShotThread(std::shared_ptr<COneShot::CState> state, std::function<std::function<void()>()> work)
        : m_state(std::move(state)), m_work(std::move(work))
    {
    }

protected:
    void run() override
    {
        CAbortScope abort(&m_state->stop);
        try {
            m_state->deliver = m_work();
        } catch (const std::exception& e) {
            qWarning("background work failed: %s", e.what());
        } catch (...) {
            qWarning("background work failed");
        }
        m_state->done.store(true);
    }

private:
    std::shared_ptr<COneShot::CState> m_state;
    std::function<std::function<void()>()> m_work;
};

} // namespace

COneShot COneShot::Start(QObject* context, std::function<std::function<void()>()> work)
{
    COneShot shot;
    shot.m_state = std::make_shared<CState>();
    auto* thread = new COneShotThread(shot.m_state, std::move(work));
    // Queued onto the context's thread; Qt drops it when the context is deleted first.
    QObject::connect(thread, &QThread::finished, context, [state = shot.m_state] {
        if (state->stop.load() == 0 && state->deliver)
            state->deliver();
        state->deliver = nullptr;
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    StartWorker(thread, &shot.m_state->stop);
    return shot;
}
