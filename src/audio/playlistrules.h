#pragma once

#include <QString>

// The rules of the repeating playlist, apart from the list box that shows it: the window hands
// in the number of entries and the selected one (-1: none) and carries out the answer.
class PlaylistRules {
public:
    // The entry for a file of the file pane: its folder as shown, '/', the name (a folder that
    // already ends in '/' gives '//'); empty when no file is selected.
    static QString entry(const QString &folder, const QString &name);

    // The end of a file, played or failed, in a list of `count` entries.
    struct End {
        bool clearLine; // a failed file keeps saying why until something else plays
        bool deselect;  // the last entry was selected: the list goes round to the first
        int play;       // the entry to select and play; -1: nothing more plays
    };
    End atEnd(int selected, int count, bool failed);
    // The entry that will play after the selected one (ahead 0), or `ahead` entries later;
    // -1 for none.
    static int upcoming(int selected, int count, int ahead);
    // Media keys: `step` entries on from the selected one (+1 next, -1 previous), round the
    // list; from nothing selected, next is the first and previous the last. -1 when empty.
    static int stepped(int selected, int count, int step);
    // A file started by the person: failures are counted afresh.
    void started() { m_failedInRow = 0; }

private:
    int m_failedInRow = 0; // consecutive files that could not be played
};
