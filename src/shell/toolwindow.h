#pragma once
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

class QMdiArea;
class QMdiSubWindow;

// Frame flags of a child window: title, system menu and close button, and the minimize and
// maximize buttons only for a sizable one.
Qt::WindowFlags childWindowFlags(bool sizable);

// A tool window: one instance per class lives as long as the program. Closing it hides its
// frame; the next command deletes its controls, creates them anew and runs Form_Load again,
// while the instance's own member variables keep their values.
class ToolWindow : public QWidget {
    Q_OBJECT
public:
    explicit ToolWindow(QWidget *parent = nullptr);

    // Create the controls (children of this widget) and assign the control members.
    virtual void createControls() = 0;
    // The window's load step; runs after createControls at every (re)load.
    virtual void Form_Load() {}
    // Called when the user closes the window; return false to keep it open.
    virtual bool Form_QueryUnload() { return true; }
    // Runs after the window was closed (its controls still exist until the next load).
    virtual void Form_Unload() {}

    // Fixed-border tool windows have no minimize or maximize button and a fixed client size.
    virtual bool isSizable() const { return false; }

    bool isLoaded() const { return m_loaded; }
    QMdiSubWindow *subWindow() const;

    // Deletes the current controls, creates them again and runs Form_Load.
    void load();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_loaded = false;
};

// Keeps one instance per tool class. Instances are created by factories keyed by a name
// (the class name), so the main window needs no knowledge of each tool's header.
class ToolWindowRegistry {
public:
    using Factory = std::function<ToolWindow *()>;

    explicit ToolWindowRegistry(QMdiArea *area) : m_area(area) {}
    void registerFactory(const QString &name, Factory factory);
    bool hasFactory(const QString &name) const { return m_factories.count(name) != 0; }

    // Creates and loads the instance the first time, reloads it after it was closed,
    // shows it and makes it the active child window. Returns null for an unknown name.
    ToolWindow *show(const QString &name);
    ToolWindow *instance(const QString &name) const;

    template<class T>
    T *show()
    {
        return qobject_cast<T *>(show(T::staticMetaObject.className()));
    }

private:
    QMdiArea *m_area;
    std::map<QString, Factory> m_factories;
    std::map<QString, QPointer<ToolWindow>> m_instances;
};
