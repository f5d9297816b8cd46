#pragma once
// Reading the bytes of a disc's files after its walk, for their fingerprints: one file at a time, in
// the order they lie on the disc, in large reads that the kernel is asked to read ahead of.

#include "catalogue/Fingerprint.h"
#include "scan/DiscTree.h"

#include <functional>
#include <vector>

class ContentObserver
{
public:
    virtual ~ContentObserver() = default;
    // bytes more were read (called for every read, a megabyte or so).
    virtual void contentRead(std::uint64_t bytes) = 0;
};

struct ContentResult
{
    int error = 0;           // 0 when the file was read to its end, else the errno of the read that failed
    Fingerprint fingerprint; // of the bytes read, when error is 0
    std::uint64_t bytes = 0; // read
};

// Reads the files (sorted here into their order on the disc) and gives each file's result to done.
// A file that fails is reported and the next one read. False when the disc is gone (the tree says a
// failure means so and its root cannot be read): the files not read yet are not reported.
bool ReadContent(DiscTree &tree, std::vector<DiscFile> &files, ContentObserver &observer,
                 const std::function<void(const DiscFile &, const ContentResult &)> &done);

// The sum of the files' sizes as listed.
std::uint64_t ContentBytes(const std::vector<DiscFile> &files);
