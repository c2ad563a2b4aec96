// A library opened through the dynamic loader when it is first needed, and
// kept open for the rest of the run: the emulator's, the cabinet reader's
// and the cell's filter's, which only the runs that use them load.
#ifndef SAMBREL_DYNAMIC_LIBRARY_H
#define SAMBREL_DYNAMIC_LIBRARY_H

#include <string>

namespace dynamic {

class Library {
public:
    // Opens the library by the name it is installed under.
    explicit Library(const char *name);

    // Takes an entry point from the library; a missing one, or a library
    // that did not open, leaves it null and the first reason in Error().
    template <typename Function>
    void Find(const char *symbol, Function &to)
    {
        to = reinterpret_cast<Function>(Symbol(symbol));
    }
    // Gives up on the library for a reason of the caller's.
    void Refuse(std::string why);

    bool Ok() const { return error_.empty(); }
    const std::string &Error() const { return error_; }

private:
    void *Symbol(const char *symbol);

    const char *name_;
    void *handle_ = nullptr;
    std::string error_;
};

// A library's entry points, taken once by bind on first use.
template <typename Entries>
class Loaded {
public:
    Loaded(const char *name, void (*bind)(Library &, Entries &)) : library_(name)
    {
        bind(library_, entries_);
    }
    // The entry points; nullptr, with the reason, when the library cannot
    // be used.
    const Entries *Get(std::string &error) const
    {
        if (!library_.Ok()) {
            error = library_.Error();
            return nullptr;
        }
        return &entries_;
    }

private:
    Library library_;
    Entries entries_{};
};

} // namespace dynamic

#endif
