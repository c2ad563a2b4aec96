// Where a file's bytes come from when they are read in pieces, and where
// they go when they are written in blocks, so that a large file is never
// held whole. A held file (savefile/) is a source; a new file is given to
// its writer as a sink; a registry file (regfile/) is read from the one and
// written to the other.
#ifndef SAMBREL_BYTES_SOURCE_SINK_H
#define SAMBREL_BYTES_SOURCE_SINK_H

#include <cstddef>
#include <string>
#include <string_view>

namespace bytes {

class Source {
public:
    virtual ~Source() = default;
    // The size known before reading (the file may still change).
    virtual size_t Size() const = 0;
    // Up to capacity bytes; got is 0 at the end. False, with a reason, when
    // the bytes cannot be read.
    virtual bool Read(char *to, size_t capacity, size_t &got, std::string &error) = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    // Takes the next bytes. False, with a reason, when they cannot be
    // written: the writing stops there.
    virtual bool Write(std::string_view bytes, std::string &error) = 0;
};

// Bytes gathered whole into a string, where they must be.
class StringSink : public Sink {
public:
    explicit StringSink(std::string &bytes) : bytes_(bytes) {}
    bool Write(std::string_view bytes, std::string &) override
    {
        bytes_ += bytes;
        return true;
    }

private:
    std::string &bytes_;
};

} // namespace bytes

#endif
