#pragma once

// The one object of a kind that the process has: built on first use and
// destroyed at exit. A kind reaches it through its own `instance()`:
//
//     static HwMux& instance() { return Singleton<HwMux>::Get(); }
//
// The control services bound to the control server return the pointer
// (`&Singleton<X>::Get()`), since that is what `CtrlSrv::Server::Bind`
// takes. A kind whose object other code reaches through `instance()` lets a
// test put its own object in that place, the one seam for that:
//
//     static HwMux* UseInstance(HwMux* mux) { return Singleton<HwMux>::Use(mux); }
//
// A kind whose constructor is private befriends Singleton<X>.

template <class T>
class Singleton {
public:
    // The object in place: a test's while one is, the process's otherwise.
    static T& Get()
    {
        if (T* t = Replacement())
            return *t;
        static T one;
        return one;
    }
    // Puts `t` in place (null: the process's own again); returns the object
    // that was in place before, for the test to restore.
    static T* Use(T* t)
    {
        T* old = Replacement();
        Replacement() = t;
        return old;
    }

private:
    static T*& Replacement()
    {
        static T* t = nullptr;
        return t;
    }
};
