// One of the old ZIP methods' decoders of our own (ZIP_FUZZ_FAMILY indexes kMethodFamilies:
// Shrink, Reduce 1-4, Implode in its four forms, Deflate64) on raw member data: the first byte
// picks the form, the next three the member's size (up to 16 MiB); the rest is the compressed
// data. Output past the size is an error the decoder must stop at.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "decoder.h"
#include "zip_method_families.h"

namespace {

using namespace zembrat::zip;

constexpr auto kChoices = zembrat::zip_fuzz::kMethodFamilies[ZIP_FUZZ_FAMILY].choices;

class BoundedOutput final : public decode::Output {
  public:
    explicit BoundedOutput(std::uint64_t size) : size_(size) {}
    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        if (count_ > size_) {
            throw Error(ErrorKind::kMember, "past the size");
        }
    }

  private:
    std::uint64_t size_;
    std::uint64_t count_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const zembrat::zip_fuzz::MethodChoice choice = kChoices[data[0] % kChoices.size()];
    const decode::Member member{
        choice.method, choice.flags,
        std::uint64_t{data[1]} | std::uint64_t{data[2]} << 8 | std::uint64_t{data[3]} << 16};
    decode::MemoryInput input(std::as_bytes(std::span(data + 4, size - 4)));
    BoundedOutput output(member.size);
    try {
        decode::FindDecoder(member.method)(input, member, output);
    } catch (const Error&) {
    }
    return 0;
}
