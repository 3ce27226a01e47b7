// A guard for a process-wide install (the main loop, the clock, the console, the data module,
// the log pane): installs a value for its lifetime and puts the previous one back.
#pragma once

/// `Install` sets the value in force and returns the one it replaced.
template <class T, T* (*Install)(T*)> class ScopedInstall {
public:
    explicit ScopedInstall(T* value) : m_previous(Install(value)) {}
    ~ScopedInstall() { Install(m_previous); }
    ScopedInstall(const ScopedInstall&) = delete;
    ScopedInstall& operator=(const ScopedInstall&) = delete;

private:
    T* m_previous;
};
