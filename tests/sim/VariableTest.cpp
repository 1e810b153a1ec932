// Variable services with UEFI's rules: sizes, parameters, attributes, the runtime phase.
#include "sim/Platform.h"

#include <gtest/gtest.h>

namespace {

constexpr EFI_GUID kVendor = {0xCCCC0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr UINT32 kNvBsRt = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

class VariableTest : public testing::Test {
 protected:
  sim::Platform P;
  EFI_RUNTIME_SERVICES *Rt = P.RuntimeServices();
};

TEST_F(VariableTest, GetReportsTheNeededSizeAndAttributesWhenTheBufferIsTooSmall) {
  P.Variables().Put(u"Setup", kVendor, kNvBsRt, {1, 2, 3, 4, 5});
  UINT8 Buffer[8] = {};
  UINTN Size = 4;
  UINT32 Attributes = 0;
  EXPECT_EQ(Rt->GetVariable(u"Setup", &kVendor, &Attributes, &Size, Buffer), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 5u);
  EXPECT_EQ(Attributes, kNvBsRt);
  EXPECT_EQ(Buffer[0], 0) << "nothing is copied into a buffer that is too small";

  Size = 0;
  EXPECT_EQ(Rt->GetVariable(u"Setup", &kVendor, nullptr, &Size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 5u);

  Size = sizeof Buffer;
  ASSERT_EQ(Rt->GetVariable(u"Setup", &kVendor, nullptr, &Size, Buffer), EFI_SUCCESS);
  EXPECT_EQ(Size, 5u);
  EXPECT_EQ(Buffer[4], 5);
  EXPECT_EQ(Buffer[5], 0);
}

TEST_F(VariableTest, GetRefusesBadParametersAndAnswersNotFoundAndNotAvailableYet) {
  P.Variables().Put(u"A", kVendor, kNvBsRt, {1});
  UINT8 Byte = 0;
  UINTN Size = 1;
  EXPECT_EQ(Rt->GetVariable(nullptr, &kVendor, nullptr, &Size, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->GetVariable(u"A", nullptr, nullptr, &Size, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->GetVariable(u"A", &kVendor, nullptr, nullptr, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->GetVariable(u"A", &kVendor, nullptr, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->GetVariable(u"B", &kVendor, nullptr, &Size, &Byte), EFI_NOT_FOUND);
  constexpr EFI_GUID kOther = {0xCCCC0002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(Rt->GetVariable(u"A", &kOther, nullptr, &Size, &Byte), EFI_NOT_FOUND);
  P.Variables().SetNotAvailableYet(true);
  EXPECT_EQ(Rt->GetVariable(u"A", &kVendor, nullptr, &Size, &Byte), EFI_NOT_AVAILABLE_YET);
}

TEST_F(VariableTest, SetCreatesReplacesAppendsAndDeletes) {
  UINT8 Data[3] = {7, 8, 9};
  ASSERT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 2, Data), EFI_SUCCESS);
  ASSERT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt | EFI_VARIABLE_APPEND_WRITE, 1, Data + 2), EFI_SUCCESS);
  const auto *Stored = P.Variables().Find(u"V", kVendor);
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(Stored->Data, (std::vector<UINT8>{7, 8, 9}));
  EXPECT_EQ(Stored->Attributes, kNvBsRt) << "the append flag is not stored";

  ASSERT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 1, Data), EFI_SUCCESS);
  EXPECT_EQ(P.Variables().Find(u"V", kVendor)->Data, (std::vector<UINT8>{7}));

  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 0, nullptr), EFI_SUCCESS);
  EXPECT_EQ(P.Variables().Find(u"V", kVendor), nullptr);
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 0, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(P.Variables().WriteCount(), 4u);
}

TEST_F(VariableTest, SetRefusesBadAttributesAndAttributeChanges) {
  UINT8 Byte = 1;
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, EFI_VARIABLE_RUNTIME_ACCESS, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(u"", &kVendor, kNvBsRt, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(u"V", nullptr, kNvBsRt, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, 0x1000 | kNvBsRt, 1, &Byte), EFI_INVALID_PARAMETER);

  ASSERT_EQ(Rt->SetVariable(u"V", &kVendor, kNvBsRt, 1, &Byte), EFI_SUCCESS);
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, &Byte), EFI_INVALID_PARAMETER);
  EXPECT_EQ(P.Variables().Find(u"V", kVendor)->Attributes, kNvBsRt);
  // Attributes 0 deletes whatever the stored attributes are.
  EXPECT_EQ(Rt->SetVariable(u"V", &kVendor, 0, 0, nullptr), EFI_SUCCESS);
  EXPECT_EQ(P.Variables().Find(u"V", kVendor), nullptr);
}

TEST_F(VariableTest, AfterExitBootServicesOnlyRuntimeVariablesAreSeenAndSet) {
  P.Variables().Put(u"BootOnly", kVendor, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, {1});
  P.Variables().Put(u"Runtime", kVendor, kNvBsRt, {2});
  P.ExitBootServices();
  UINT8 Byte = 0;
  UINTN Size = 1;
  EXPECT_EQ(Rt->GetVariable(u"BootOnly", &kVendor, nullptr, &Size, &Byte), EFI_NOT_FOUND);
  ASSERT_EQ(Rt->GetVariable(u"Runtime", &kVendor, nullptr, &Size, &Byte), EFI_SUCCESS);
  EXPECT_EQ(Byte, 2);
  Byte = 3;
  EXPECT_EQ(Rt->SetVariable(u"New", &kVendor, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, &Byte),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(
      Rt->SetVariable(u"Volatile", &kVendor, EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, 1, &Byte),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rt->SetVariable(u"Runtime", &kVendor, kNvBsRt, 1, &Byte), EFI_SUCCESS);
  EXPECT_EQ(P.Variables().Find(u"Runtime", kVendor)->Data, (std::vector<UINT8>{3}));
}

TEST_F(VariableTest, OversizedWritesAndUnterminatedNamesAreRefused) {
  std::vector<UINT8> Big(64 * 1024 + 1, 0x55);
  EXPECT_EQ(Rt->SetVariable(u"Big", &kVendor, kNvBsRt, Big.size(), Big.data()), EFI_OUT_OF_RESOURCES);
  std::vector<CHAR16> Name(2048, u'x');  // no terminator within the bound
  UINT8 Byte = 1;
  EXPECT_EQ(Rt->SetVariable(Name.data(), &kVendor, kNvBsRt, 1, &Byte), EFI_INVALID_PARAMETER);
  UINTN Size = 1;
  EXPECT_EQ(Rt->GetVariable(Name.data(), &kVendor, nullptr, &Size, &Byte), EFI_INVALID_PARAMETER);
}

}  // namespace
