#pragma once
class ToolWindowRegistry;
void registerTools(ToolWindowRegistry &registry);
