#include "persistence/Folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/ScopedHome.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// A small tree below a test home; names ending in "/" are folders.
class ListFolder : public testing::Test {
protected:
    void make(const std::string& relative) {
        const fs::path path = root() / relative;
        if (relative.back() == '/') {
            fs::create_directories(path);
            return;
        }
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
    }
    void link(const std::string& relative, const fs::path& target) {
        fs::create_directory_symlink(target, root() / relative);
    }
    fs::path root() const { return home_.path() / "tree"; }
    std::vector<std::string> sortedList() const {
        std::vector<std::string> listed = listFolder(root().string());
        std::sort(listed.begin(), listed.end());
        return listed;
    }

    test::ScopedHome home_;
};

TEST_F(ListFolder, ListsFilesRecursivelySkippingDotNames) {
    for (const char* file :
         {"Kicks/Deep/kick 03.blob", "Kicks/kick 01.blob", "Snare.blob", "notes.txt", ".hidden.blob",
          ".git/config", "Kicks/.DS_Store", "Empty/", "Toms/.cache/x.blob"})
        make(file);
    const std::vector<std::string> listed = listFolder(root().string());
    EXPECT_EQ(sortedList(), (std::vector<std::string>{"Kicks/Deep/kick 03.blob", "Kicks/kick 01.blob",
                                                      "Snare.blob", "notes.txt"}));
    // A folder's files stand together where the folder was met.
    const auto first = std::find(listed.begin(), listed.end(), "Kicks/Deep/kick 03.blob");
    const auto second = std::find(listed.begin(), listed.end(), "Kicks/kick 01.blob");
    ASSERT_NE(first, listed.end());
    ASSERT_NE(second, listed.end());
    EXPECT_EQ(std::abs(static_cast<int>(first - second)), 1);

    // A trailing separator on the root changes nothing.
    EXPECT_EQ(listFolder(root().string() + "/"), listed);
}

TEST_F(ListFolder, MissingRootIsEmpty) {
    EXPECT_TRUE(listFolder((root() / "absent").string()).empty());
}

// Links back up the tree or round between folders are met once and not followed again; a
// scan that followed them would list the same files hundreds of times (or never end).
TEST_F(ListFolder, LinkLoopsAreNotFollowed) {
    make("a.blob");
    make("A/in A.blob");
    make("B/in B.blob");
    link("A/up", root());         // to the root
    link("A/self", root() / "A"); // to its own folder
    link("A/to B", root() / "B"); // A and B link to each other
    link("B/to A", root() / "A");
    link("B/again", root() / "B"); // a second link into a folder a link already led into
    link("A/dangling", root() / "gone");

    const std::vector<std::string> listed = sortedList();
    // Each folder is listed below its own name and once through its sibling's link (a link
    // to a sibling is a user's choice); nothing more often, nothing through the loops.
    EXPECT_EQ(listed, (std::vector<std::string>{"A/in A.blob", "A/to B/in B.blob", "B/in B.blob",
                                                "B/to A/in A.blob", "a.blob"}));
}

// Two links to the root in every folder once made the walk exponential.
TEST_F(ListFolder, ManyLinksToAncestorsStayLinear) {
    std::string folder;
    for (int level = 0; level < 12; ++level) {
        folder.append("d").append(std::to_string(level)).append("/");
        make(folder);
        link(folder + "up1", root());
        link(folder + "up2", root() / folder);
    }
    make(folder + "deep.blob");
    EXPECT_EQ(sortedList(), (std::vector<std::string>{folder + "deep.blob"}));
}

TEST_F(ListFolder, StopsAtTheDepthLimit) {
    std::string atLimit;
    for (int level = 0; level < maxScanDepth; ++level) atLimit += "f/";
    make(atLimit + "kept.blob");
    make(atLimit + "f/too deep.blob");
    EXPECT_EQ(sortedList(), (std::vector<std::string>{atLimit + "kept.blob"}));
}

// An unreadable folder is passed over (its files cannot be listed); the rest still is, and
// nothing throws. A process running as root reads it anyway.
TEST_F(ListFolder, UnreadableFolderIsPassedOver) {
    make("Open/a.blob");
    make("Locked/b.blob");
    fs::permissions(root() / "Locked", fs::perms::none);
    std::vector<std::string> listed;
    EXPECT_NO_THROW(listed = sortedList());
    fs::permissions(root() / "Locked", fs::perms::owner_all);
    EXPECT_NE(std::find(listed.begin(), listed.end(), "Open/a.blob"), listed.end());
    EXPECT_LE(listed.size(), 2u);

    fs::permissions(root(), fs::perms::none);
    EXPECT_NO_THROW(listed = listFolder(root().string()));
    fs::permissions(root(), fs::perms::owner_all);
}

} // namespace
} // namespace tarvo
