// Byte streams the LHA reader and writer work on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zembrat::lha {

class InputStream {
  public:
    virtual ~InputStream() = default;
    // Reads up to buffer.size() bytes; 0 only at the end. Throws Error(kIo) on failure.
    virtual std::size_t Read(std::span<std::byte> buffer) = 0;
};

class SeekableInput : public InputStream {
  public:
    virtual void Seek(std::uint64_t offset) = 0;
    virtual std::uint64_t Tell() const = 0;
    virtual std::uint64_t Size() const = 0;
};

class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Writes every byte or throws Error(kIo).
    virtual void Write(std::span<const std::byte> data) = 0;
};

class SeekableOutput : public OutputStream {
  public:
    virtual void Seek(std::uint64_t offset) = 0;
    virtual std::uint64_t Tell() const = 0;
};

// A file opened for reading (throws Error(kIo) when it cannot be opened). Owns its descriptor.
class FileInput final : public SeekableInput {
  public:
    explicit FileInput(const std::string& path);
    // Takes over a descriptor already open for reading (closed here, also when this throws).
    explicit FileInput(int descriptor);
    ~FileInput() override;
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;
    std::size_t Read(std::span<std::byte> buffer) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override;
    std::uint64_t Size() const override;

  private:
    int fd_;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0;
};

// A file created (or truncated) for writing. Owns its descriptor; Close() reports errors.
class FileOutput final : public SeekableOutput {
  public:
    explicit FileOutput(const std::string& path, unsigned mode = 0644);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;
    void Write(std::span<const std::byte> data) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override;
    void Close();  // flushes and closes; throws Error(kIo) on failure

  private:
    int fd_;
    std::uint64_t position_ = 0;
};

// In-memory streams, for tests and ExtractMem.
class MemoryInput final : public SeekableInput {
  public:
    explicit MemoryInput(std::span<const std::byte> data) : data_(data) {}
    std::size_t Read(std::span<std::byte> buffer) override;
    void Seek(std::uint64_t offset) override;
    std::uint64_t Tell() const override { return position_; }
    std::uint64_t Size() const override { return data_.size(); }

  private:
    std::span<const std::byte> data_;
    std::uint64_t position_ = 0;
};

class MemoryOutput final : public SeekableOutput {
  public:
    void Write(std::span<const std::byte> data) override;
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Tell() const override { return position_; }
    const std::vector<std::byte>& Data() const { return data_; }

  private:
    std::vector<std::byte> data_;
    std::uint64_t position_ = 0;
};

}  // namespace zembrat::lha
