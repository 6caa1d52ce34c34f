# Lays the module out as a user installs it: the module (QuorPlemo64.ax or QuorPlemo32.ax) with
# its INI file and the pictures that the INI names, all in one folder, since the module finds
# them beside itself; and the capture tool of the same architecture. The two architectures'
# folders merge into one without clashes.
set(QP_INSTALL_FOLDER ${CMAKE_BINARY_DIR}/install CACHE PATH
    "Folder that receives the module, qpcap, QuorPlemo.ini and the default pictures")

if(WIN32)
  set(QP_ASSET_FILES
    ${PROJECT_SOURCE_DIR}/assets/QuorPlemo.ini
    ${PROJECT_SOURCE_DIR}/assets/test_card.bmp
    ${PROJECT_SOURCE_DIR}/assets/glyphs.bmp
    ${PROJECT_SOURCE_DIR}/assets/FONT-LICENSE.txt)
  add_custom_target(qp_install_folder ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QP_INSTALL_FOLDER}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:QuorPlemo> $<TARGET_FILE:qpcap>
            ${QP_ASSET_FILES} ${QP_INSTALL_FOLDER}
    COMMENT "Install folder ${QP_INSTALL_FOLDER}"
    VERBATIM)
  add_dependencies(qp_install_folder QuorPlemo qpcap)
endif()
