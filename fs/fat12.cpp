#include "file_system.h"
#include "file_systems.h"

namespace imgpry::fs {

namespace {

// Not read yet: recognises no disk.
class Unread final : public FileSystem {
public:
    const char* name() const override { return "FAT12"; }
    bool recognise(DiskImage& /*image*/) override { return false; }
    const char* describe(char* buf, size_t size) const override {
        if (size > 0) buf[0] = '\0';
        return buf;
    }
    int32_t parameters(Parameter* /*out*/, int32_t /*max*/) const override { return 0; }
    Geometry geometry() const override { return Geometry{}; }
    void readCatalogue(DiskImage& /*image*/, Catalogue& catalogue) override { catalogue.clear(); }
    bool readFile(DiskImage& /*image*/, const Catalogue& /*catalogue*/, int32_t /*index*/, uint8_t* /*out*/,
                  int32_t /*capacity*/, RunReport& report, SectorVisitor* /*visitor*/) override {
        startReport(report, 0);
        return false;
    }
    void visitAreas(DiskImage& /*image*/, AreaVisitor& /*visitor*/) override {}
};

}  // namespace

FileSystem& fat12FileSystem() {
    static Unread fileSystem;
    return fileSystem;
}

}  // namespace imgpry::fs
