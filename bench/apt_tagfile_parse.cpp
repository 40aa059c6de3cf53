// Parse every stanza of the given Packages files with APT's pkgTagFile and
// read the six fields the catalogue load needs. Prints stanzas and bytes read.
// Build: g++ -O2 -o tagfile_parse tagfile_parse.cpp -lapt-pkg
#include <apt-pkg/fileutl.h>
#include <apt-pkg/tagfile.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    static const char* const kFields[] = {"Package", "Name",        "Version",
                                          "Section", "Description", "Filename"};
    unsigned long long stanzas = 0, bytes = 0;
    for (int i = 1; i < argc; ++i) {
        FileFd fd(argv[i], FileFd::ReadOnly);
        if (!fd.IsOpen()) {
            std::fprintf(stderr, "cannot open %s\n", argv[i]);
            return 1;
        }
        pkgTagFile file(&fd);
        pkgTagSection section;
        while (file.Step(section)) {
            for (const char* field : kFields) {
                std::string value = section.FindS(field);
                if (field[0] == 'D')
                    value.erase(std::min(value.find('\n'), value.size()));
                bytes += value.size();
            }
            ++stanzas;
        }
    }
    std::printf("%llu stanzas, %llu value bytes\n", stanzas, bytes);
    return 0;
}
