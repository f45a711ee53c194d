#include "document/archivefiles.h"

#include "archive/maparchive.h"

namespace brindlemark {

namespace {

class StormArchiveFiles final : public ArchiveFiles {
public:
    explicit StormArchiveFiles(MapArchive archive) : archive_(std::move(archive)) {}

    bool contains(std::string_view name) const override { return archive_.contains(name); }

    bool read(std::string_view name, std::vector<std::uint8_t>& out, std::string& error) const override {
        return archive_.read(name, out, error);
    }

    bool write(const std::map<std::string, std::vector<std::uint8_t>>& replaced,
               const std::map<std::string, std::vector<std::uint8_t>>& added, const std::filesystem::path& target,
               std::string& error) const override {
        return writeMapArchive(archive_, replaced, target, error, added);
    }

private:
    MapArchive archive_;
};

} // namespace

std::unique_ptr<ArchiveFiles> openArchiveFiles(const std::filesystem::path& path, std::string& error) {
    MapArchive archive;
    if (!archive.open(path, error))
        return nullptr;
    return std::make_unique<StormArchiveFiles>(std::move(archive));
}

} // namespace brindlemark
