#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

// Quorvel's window and the plots need one QApplication for the whole process. Listing the tests
// (CTest's discovery at build time) needs none, and so no display either.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
