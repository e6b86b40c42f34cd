#include "ftpsteps.h"

#include <utility>

bool FtpStepsRunner::run(FtpSteps steps)
{
    if (isRunning())
        return false;
    m_steps = std::move(steps);
    m_steps.m_handle.promise().runner = this;
    resume(m_steps.m_handle);
    return true;
}

void FtpStepsRunner::stop()
{
    if (m_executing)
        m_stopping = true;
    else
        m_steps = FtpSteps();
}

void FtpStepsRunner::resume(std::coroutine_handle<> waiting)
{
    if (std::exchange(m_executing, true)) {
        waiting.resume();
        return;
    }
    waiting.resume();
    m_executing = false;
    // Only now that no step of theirs is on the stack may the steps go.
    if (std::exchange(m_stopping, false)) {
        m_steps = FtpSteps();
        return;
    }
    if (m_steps && m_steps.done()) {
        m_steps = FtpSteps();
        Q_EMIT finished();
    }
}
