#pragma once
#include <QString>

class QWidget;

// A child window whose text the frame's Edit commands reach: cut and copy take the selection
// as markup for the clipboard (and cut then removes it), paste puts markup in its place. The
// frame calls it on the active child; a window without text to edit does not implement it.
class EditTarget {
public:
    // The selection as markup (Qt's HTML subset); empty when nothing is selected.
    virtual QString selectedMarkup() const = 0;
    // The selection as plain text, lines ending in "\n".
    virtual QString selectedText() const = 0;
    // Replaces the selection (or inserts at the cursor) with the markup's content.
    virtual void replaceSelection(const QString &markup) = 0;
    // Replaces the selection (or inserts at the cursor) with plain text; empty text deletes it.
    virtual void replaceSelectedText(const QString &text) = 0;

    // The edit target a child window offers, or null.
    static EditTarget *of(QWidget *window);

protected:
    ~EditTarget() = default;
};
