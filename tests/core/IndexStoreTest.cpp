#include "sources/IndexStore.h"

#include <gtest/gtest.h>

namespace {

struct NamingCase {
    const char* address;
    const char* name;
};

class IndexNaming : public ::testing::TestWithParam<NamingCase> {};

TEST_P(IndexNaming, AddressAndNameTurnIntoEachOther) {
    const NamingCase& c = GetParam();
    EXPECT_EQ(IndexStore::AddressToIndexName(QString::fromUtf8(c.address)),
              QString::fromUtf8(c.name));
    EXPECT_EQ(IndexStore::IndexNameToAddress(QString::fromUtf8(c.name)),
              QString::fromUtf8(c.address));
}

INSTANTIATE_TEST_SUITE_P(
    Store, IndexNaming,
    ::testing::Values(
        NamingCase{"http://repo.example.org/Packages", "repo.example.org_Packages"},
        NamingCase{"http://repo.example.org/./Packages", "repo.example.org_._Packages"},
        NamingCase{"http://apt.example.org/dists/stable/main/binary-iphoneos-arm/Packages",
                   "apt.example.org_dists_stable_main_binary-iphoneos-arm_Packages"},
        NamingCase{"http://repo.example.org/cydia/Packages", "repo.example.org_cydia_Packages"}));

TEST(IndexNaming, RulesAreNotInverseForUnderscoresAndCapitalScheme) {
    EXPECT_EQ(
        IndexStore::AddressToIndexName(QStringLiteral("http://repo.example.org/my_repo/Packages")),
        QStringLiteral("repo.example.org_my_repo_Packages"));
    EXPECT_EQ(IndexStore::IndexNameToAddress(QStringLiteral("repo.example.org_my_repo_Packages")),
              QStringLiteral("http://repo.example.org/my/repo/Packages"));
    // Only the exact lower-case scheme is removed.
    EXPECT_EQ(IndexStore::AddressToIndexName(QStringLiteral("HTTP://repo.example.org/Packages")),
              QStringLiteral("HTTP:__repo.example.org_Packages"));
}

TEST(IndexNaming, IndexNamesEndInPackagesInAnyCase) {
    EXPECT_TRUE(IndexStore::IsIndexName(QStringLiteral("repo.example.org_Packages")));
    EXPECT_TRUE(IndexStore::IsIndexName(QStringLiteral("repo.example.org_packages")));
    EXPECT_TRUE(IndexStore::IsIndexName(QStringLiteral("x_PACKAGES")));
    EXPECT_FALSE(IndexStore::IsIndexName(QStringLiteral("cache.txt")));
    EXPECT_FALSE(IndexStore::IsIndexName(QStringLiteral("repo.example.org_Packages.bak")));
    EXPECT_FALSE(IndexStore::IsIndexName(QStringLiteral("ackages")));
}

} // namespace
