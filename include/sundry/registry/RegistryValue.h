#pragma once
// CRegistryValue: one named value of one registry key, held as a typed byte
// buffer.
//
// Initialising reads the value, or creates it from a default when asked to.
// The typed getters read the buffer; the setters write through to the
// registry. Between operations the key is closed unless remain-open is set.
//
// m_State tells how the buffer was filled:
//   0 nothing held (constructed, emptied, or the last read failed)
//   1 a default was staged and the key could not be opened
//   2 read from the registry: the value existed
//   3 the value was missing and has been created from the default
//   9 filled from the caller's data without registry access

#include <sundry/registry/RegistryBase.h>

class SUNDRY_EXPORT CRegistryValue : public CRegistryBase {
 public:
  CRegistryValue();
  ~CRegistryValue() override;
  // A copy takes every attribute and a buffer of its own (see CRegistryBase
  // for the handles).
  CRegistryValue(const CRegistryValue& other);
  CRegistryValue& operator=(const CRegistryValue& other);

  // Initialize with a default. *create* equal to 1 creates a missing key;
  // any non-zero *create* writes the default when the value is missing.
  // The key is opened read-write when *create* or *write* is non-zero.
  // TRUE when the value was read (state 2) or created (state 3).
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                  DWORD defaultValue, BOOL create, BOOL write);
  BOOL initialize(HKEY rootKey, const char* subKey, const char* valueName, DWORD defaultValue, BOOL create,
                  BOOL write);
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                  const char* defaultString, BOOL create, BOOL write);
  BOOL initialize(HKEY rootKey, const char* subKey, const char* valueName, const char* defaultString,
                  BOOL create, BOOL write);
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                  const unsigned char* defaultData, DWORD size, BOOL create, BOOL write);
  BOOL initialize(HKEY rootKey, const char* subKey, const char* valueName, const unsigned char* defaultData,
                  DWORD size, BOOL create, BOOL write);
  // Offline: fills the object from the caller's data without touching the
  // registry (state 9). FALSE only when the buffer cannot be allocated.
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName, DWORD type,
                  unsigned char* data, DWORD size, BOOL writable);

  CString getValueName() const { return m_ValueName; }
  DWORD getType() const { return m_Type; }
  DWORD getSize() const { return m_Size; }
  const void* getBinary() const { return m_Data.get(); }
  // The first 4 bytes as a little-endian number; 0 without data.
  DWORD getDWORD() const;
  BOOL getBOOL() const { return getDWORD() != 0; }
  // The data as text up to its first zero byte; with a non-zero separator
  // the strings of a multi-string value are joined by it.
  CString getCString(int separator) const;
  short getState() const { return m_State; }

  // The argument of each only selects the overload. Without data the
  // numeric forms give 0 and the text form "".
  BOOL operator()(int) const;
  DWORD operator()(unsigned long) const;
  const char* operator()(const char*) const;
  const DWORD* operator()(const unsigned long*) const;

  // Setters write through to the registry; they leave m_State unchanged.
  BOOL setCString(const char* text);
  BOOL setDWORD(DWORD value);
  BOOL setBOOL(BOOL value);
  BOOL setBinary(const void* data, DWORD size);

  // TRUE when the value was found in a key that was not newly created.
  BOOL existed() const;
  // TRUE for states 2, 3 and 9.
  BOOL isEmpty() const;
  // Forgets name and content; the registry is not touched. Always FALSE.
  BOOL empty();
  // Deletes the value from the registry (see the implementation for the
  // results).
  BOOL removeValue();

  // Byte-wise comparison of the stored data with another value's data, a
  // string's characters (without the terminator) or a number's 4 bytes in
  // little-endian order. The type is never consulted.
  BOOL operator==(const CRegistryValue& other) const;
  BOOL operator!=(const CRegistryValue& other) const;
  BOOL operator<(const CRegistryValue& other) const;
  BOOL operator>(const CRegistryValue& other) const;
  BOOL operator<=(const CRegistryValue& other) const;
  BOOL operator>=(const CRegistryValue& other) const;
  BOOL operator==(const char* text) const;
  BOOL operator!=(const char* text) const;
  BOOL operator<(const char* text) const;
  BOOL operator>(const char* text) const;
  BOOL operator<=(const char* text) const;
  BOOL operator>=(const char* text) const;
  BOOL operator==(unsigned long& number) const;
  BOOL operator!=(unsigned long& number) const;
  BOOL operator<(unsigned long& number) const;
  BOOL operator>(unsigned long& number) const;
  BOOL operator<=(unsigned long& number) const;
  BOOL operator>=(unsigned long& number) const;

 protected:
  CString m_ValueName;
  short m_State;
  DWORD m_Type;
  DWORD m_Size;
  std::unique_ptr<unsigned char[]> m_Data;  // m_Size bytes and 4 spare zero bytes

 private:
  BOOL initAttributes(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                      const unsigned char* defaultData, DWORD type, DWORD size, BOOL create, BOOL write);
  BOOL retrieveValue();
  BOOL resetValue(const unsigned char* data);
  BOOL setValue(DWORD type, DWORD size, const unsigned char* data);
  int compare(const unsigned char* other, DWORD otherSize) const;
  int compareNumber(unsigned long number) const;
};
