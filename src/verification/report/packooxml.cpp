// Zips a folder of Office Open XML parts into a document (the shipped report templates are kept
// as their XML parts and packed by the build). Deterministic: sorted entries, fixed times.
//   kest_pack_ooxml OUTPUT FOLDER

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kest_pack_ooxml OUTPUT FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(std::filesystem::relative(entry.path(), folder).generic_string());
    // The content types first, as readers that stream the archive expect.
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        const bool typesA = a == "[Content_Types].xml", typesB = b == "[Content_Types].xml";
        return typesA != typesB ? typesA : a < b;
    });
    int error = 0;
    zip_t *archive = zip_open(argv[1], ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        std::fprintf(stderr, "kest_pack_ooxml: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const std::string &name : names) {
        const std::string path = (folder / name).string();
        zip_source_t *source = zip_source_file(archive, path.c_str(), 0, -1);
        const zip_int64_t index = source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            std::fprintf(stderr, "kest_pack_ooxml: cannot add %s\n", path.c_str());
            zip_discard(archive);
            return 1;
        }
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 9);
        zip_file_set_mtime(archive, zip_uint64_t(index), 1704067200, 0); // 2024-01-01
    }
    if (zip_close(archive) != 0) {
        std::fprintf(stderr, "kest_pack_ooxml: %s\n", zip_error_strerror(zip_get_error(archive)));
        zip_discard(archive);
        return 1;
    }
    return 0;
}
