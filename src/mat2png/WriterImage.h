#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

// A grey (1), RGB (3) or RGBA (4) picture of 8-bit samples, held where its writer wants it so that
// the caller fills it in place, the first stored row at the bottom, and saved as a PNG file as
// saveImage() (SaveImage.h) says: natively DevIL's image, in the page a buffer of this class.
class WriterImage {
public:
    // The samples copied from `data`, or left for the caller to fill through data() when it is null.
    WriterImage(std::int32_t width, std::int32_t height, unsigned channels, const std::uint8_t* data = nullptr);
    virtual ~WriterImage();
    WriterImage(const WriterImage&) = delete;
    WriterImage& operator=(const WriterImage&) = delete;

    std::uint8_t* data();
    // Saves the picture under `name` with the time `modified`, each sample 255 minus itself with `negative`;
    // `program` names the temporary file.
    void save(const std::string& name, const timespec& modified, const char* program, bool negative = false);

    // The writer's name and version, for --version.
    static std::string library();

private:
    std::int32_t width, height;
    unsigned channels;
    [[maybe_unused]] std::uint32_t handle = 0;  // DevIL's image
    std::unique_ptr<std::uint8_t[]> samples;     // the page's
};
