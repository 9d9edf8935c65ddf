#pragma once
// The base of an image reader's tests: images written into a folder of the test's own, from bytes or from a
// builder's spec, what a fresh reader says on opening one, and the whole-disk read in the reader's odd-sized pieces.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/reader_checks.h"
#include "support/vhdx_builder.h"

namespace halvard::testing {

template <class Spec, class Reader>
class ImageFileTest : public ::testing::Test {
protected:
    using Build = std::function<std::vector<std::uint8_t>(const Spec&)>;

    // `pieceLength`: pick an odd size, so pieces cross block boundaries and allocated/unallocated edges.
    ImageFileTest(std::string defaultName, Build build, std::size_t pieceLength)
        : defaultName_(std::move(defaultName)), build_(std::move(build)), pieceLength_(pieceLength) {}

    std::string write(const std::vector<std::uint8_t>& bytes, const std::string& name = {}) {
        const std::string path = dir.file(name.empty() ? defaultName_ : name);
        writeFile(path, bytes);
        return path;
    }
    std::string write(const Spec& spec, const std::string& name = {}) { return write(build_(spec), name); }

    // What a fresh reader says on opening `path`: "opened", or why it refused.
    std::string refusalAt(const std::string& path) const {
        Reader reader;
        const Status opened = reader.open(path);
        return opened ? std::string("opened") : opened.message();
    }
    // The same for `bytes`, written under the default name's ending (some readers look at it).
    std::string refusal(const std::vector<std::uint8_t>& bytes) {
        return refusalAt(write(bytes, "refused" + defaultName_.substr(defaultName_.rfind('.'))));
    }

    void expectWholeDisk(DiskReader& reader, const std::vector<std::uint8_t>& expected) const {
        testing::expectWholeDisk(reader, expected, pieceLength_);
    }

    TempDir dir;

private:
    std::string defaultName_;
    Build build_;
    std::size_t pieceLength_;
};

}  // namespace halvard::testing
