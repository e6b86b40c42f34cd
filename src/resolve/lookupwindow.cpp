#include "lookupwindow.h"

#include "controls.h"
#include "job.h"

LookupWindow::LookupWindow(QWidget *parent) : ToolWindow(parent) {}

LookupWindow::~LookupWindow() = default;

void LookupWindow::Form_Unload()
{
    // A look-up still waiting on the resolver is left to end on its own; nothing of it shows.
    endLookup();
}

void LookupWindow::startLookup(std::function<void(JobContext &)> work)
{
    if (m_lookup)
        return;
    Controls::setBusy(this, true);
    m_lookup = std::make_unique<Job>();
    connect(m_lookup.get(), &Job::finished, this, [this] {
        endLookup();
        Q_EMIT lookupEnded();
    });
    m_lookup->start(std::move(work));
}

void LookupWindow::endLookup()
{
    m_lookup.reset();
    Controls::setBusy(this, false);
}
