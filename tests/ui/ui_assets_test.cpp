#include <gtest/gtest.h>

#include "ui/assets.h"
#include "ui_test_platform.h"

TEST(UiAssets, TheNineImagesDecodeAtTheirSizesAndAreReleasedInFull) {
  ASSERT_TRUE(start_image_decoder());
  const int sizes[IMAGE_RESOURCE_COUNT][2] = {{1672, 941}, {757, 516}, {662, 18}, {662, 18}, {38, 50},
                                              {38, 50},    {38, 50},   {16, 19},  {16, 19}};
  ASSERT_TRUE(load_ui_images());
  for (int i = 0; i < IMAGE_RESOURCE_COUNT; ++i) {
    resource_image* image = image_of_resource(FIRST_IMAGE_RESOURCE + i);
    ASSERT_NE(image, nullptr);
    int width = 0, height = 0;
    ASSERT_TRUE(resource_image_size(image, &width, &height)) << FIRST_IMAGE_RESOURCE + i;
    EXPECT_EQ(width, sizes[i][0]) << FIRST_IMAGE_RESOURCE + i;
    EXPECT_EQ(height, sizes[i][1]) << FIRST_IMAGE_RESOURCE + i;
  }
  // Loading into a slot that holds an image replaces it.
  ASSERT_TRUE(load_resource_image(208, &g_close_image));
  dispose_ui_images();
  for (int i = 0; i < IMAGE_RESOURCE_COUNT; ++i) {
    resource_image* image = image_of_resource(FIRST_IMAGE_RESOURCE + i);
    EXPECT_EQ(image->image, nullptr);
    EXPECT_EQ(image->stream, nullptr);
  }
  dispose_ui_images();  // safe on an empty set

  resource_image other = {};
  EXPECT_FALSE(load_resource_image(200, &other));
  EXPECT_FALSE(load_resource_image(210, &other));
  EXPECT_EQ(other.image, nullptr);
  EXPECT_EQ(image_of_resource(200), nullptr);
  stop_image_decoder();
}
