# The configuration dialog under Wine: dialog_host drives Config on Pendant.dll (controls, messages,
# focus, the saved profile, Esc, polling while the dialog is open).
pendant_add_wine_program(dialog_host ${CMAKE_CURRENT_LIST_DIR}/dialog_host.cpp)
add_dependencies(dialog_host Pendant)
pendant_add_wine_test(dialog dialog_host)
