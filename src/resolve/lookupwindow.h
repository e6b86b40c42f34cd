#pragma once
#include "toolwindow.h"

#include <functional>
#include <memory>

class Job;
class JobContext;

// A resolver window's look-up: one at a time, on a job of its own, with the busy cursor
// meanwhile so that the suite stays usable while the resolver waits on DNS.
class LookupWindow : public ToolWindow {
    Q_OBJECT
public:
    explicit LookupWindow(QWidget *parent = nullptr);
    ~LookupWindow() override;
    void Form_Unload() override;

    bool isLookingUp() const { return m_lookup != nullptr; }

Q_SIGNALS:
    // A press's look-up is over: its messages, if any, were shown and Text2 shows its result.
    void lookupEnded();

protected:
    // Runs work on a new job, unless one is running: one look-up at a time, as when the press
    // held the window until it was over.
    void startLookup(std::function<void(JobContext &)> work);

private:
    void endLookup();

    std::unique_ptr<Job> m_lookup;
};
