# Finds OpenCV's core and imgproc modules as Debian's split -dev packages
# install them (libopencv-core-dev, libopencv-imgproc-dev), which ship no
# CMake config and no pkg-config file.
#
# Defines KxOpenCV_FOUND, KxOpenCV_INCLUDE_DIR, KxOpenCV_CORE_LIBRARY,
# KxOpenCV_IMGPROC_LIBRARY and the imported targets KxOpenCV::core and
# KxOpenCV::imgproc.
find_path(KxOpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
find_library(KxOpenCV_CORE_LIBRARY NAMES opencv_core)
find_library(KxOpenCV_IMGPROC_LIBRARY NAMES opencv_imgproc)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(KxOpenCV
  REQUIRED_VARS KxOpenCV_INCLUDE_DIR KxOpenCV_CORE_LIBRARY KxOpenCV_IMGPROC_LIBRARY)

if(KxOpenCV_FOUND)
  if(NOT TARGET KxOpenCV::core)
    add_library(KxOpenCV::core UNKNOWN IMPORTED)
    set_target_properties(KxOpenCV::core PROPERTIES
      IMPORTED_LOCATION "${KxOpenCV_CORE_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${KxOpenCV_INCLUDE_DIR}")
  endif()
  if(NOT TARGET KxOpenCV::imgproc)
    add_library(KxOpenCV::imgproc UNKNOWN IMPORTED)
    set_target_properties(KxOpenCV::imgproc PROPERTIES
      IMPORTED_LOCATION "${KxOpenCV_IMGPROC_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${KxOpenCV_INCLUDE_DIR}"
      INTERFACE_LINK_LIBRARIES KxOpenCV::core)
  endif()
endif()
mark_as_advanced(KxOpenCV_INCLUDE_DIR KxOpenCV_CORE_LIBRARY KxOpenCV_IMGPROC_LIBRARY)
